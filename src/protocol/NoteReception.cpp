// (filled in by the change that brings it)
namespace vp {}
