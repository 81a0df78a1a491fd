// The contact list file as it lies on disk, in either version. A load that
// fails keeps the file aside; each input is written afresh.

#include "FuzzFolder.h"
#include "app/MessageService.h"
#include "contacts/ContactListFile.h"

#include <cstddef>
#include <cstdint>

namespace {

// Boxes answer at once and show nothing.
class SilentMessages : public vp::MessageService {
public:
    uint32_t showBox(const char*, const char*, std::uintptr_t, uint32_t) override { return 1; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vp;
    static SilentMessages messages;
    static const bool installed = (setMessageService(&messages), true);
    (void)installed;
    const std::filesystem::path contacts = fuzz::folder() / "Contacts";
    std::filesystem::create_directories(contacts);
    fuzz::writeInput(contacts / "List.anc", data, size);

    ContactListFile file(fuzz::folder().string().c_str());
    ContactTree tree;
    if (tree.create()) file.load(tree);
    return 0;
}
