#pragma once
// A message service for tests: it records every box and answers from a
// script. Safe to use from several threads.

#include "app/MessageService.h"

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace vp::test {

class ScriptedMessages final : public MessageService {
public:
    struct Box {
        std::string title;
        std::string text;
        std::uintptr_t owner = 0;
        uint32_t flags = 0;
    };

    // Answers the next boxes with these results, in order; once the script
    // is used up, each box gets its declining button (negativeAnswer).
    void script(std::initializer_list<uint32_t> results);

    std::vector<Box> boxes() const;
    size_t boxCount() const;

    uint32_t showBox(const char* title, const char* text, std::uintptr_t owner, uint32_t flags) override;

private:
    mutable std::mutex m_lock;
    std::vector<Box> m_boxes;
    std::deque<uint32_t> m_script;
};

// Installs a service for its lifetime and puts back the one before.
class ScopedMessageService {
public:
    explicit ScopedMessageService(MessageService& service) : m_previous(setMessageService(&service)) {}
    ~ScopedMessageService() { setMessageService(m_previous); }
    ScopedMessageService(const ScopedMessageService&) = delete;
    ScopedMessageService& operator=(const ScopedMessageService&) = delete;

private:
    MessageService* m_previous;
};

} // namespace vp::test
