#pragma once
// Playing a sound file, for the contact and connection events the user asked
// to hear.

namespace vp::platform {

// Starts playing the sound file at path and returns at once. A missing or
// unplayable file plays nothing (no system default sound in its place).
// true when playing started. The POSIX programs play nothing.
bool playSoundFile(const char* path);

} // namespace vp::platform
