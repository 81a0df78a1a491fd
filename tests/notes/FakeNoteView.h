#pragma once
// Note windows for the tests. FakeNoteView writes down what the record asks
// of it and answers with the status line and the attachment strip it is
// given.

#include "notes/NoteView.h"

#include <string>
#include <vector>

namespace vp::test {

// A note window that does nothing: the base of the tests' own windows,
// which override what they watch.
class QuietNoteView : public NoteView {
public:
    void setStatusText(const TextString&) override {}
    TextString statusText() override { return TextString(); }
    void labelStatus(const TextString&) override {}
    void setSending(uint32_t) override {}
    uint32_t pullState() override { return 1; }
    uint32_t hasAttachment() override { return 0; }
    void resetAttachmentView() override {}
    void showHeader() override {}
    void show() override {}
    void hide() override {}
    void destroyWindow() override {}
    void networkOperationStarted(TcpSocket&) override {}
    void networkOperationEnded() override {}
    void receivingStarted(TcpSocket&) override {}
    void receivingEnded() override {}
};

class FakeNoteView final : public NoteView {
public:
    std::vector<std::string> calls;
    std::string statusLine = "Ready";
    uint32_t attachmentShown = 0;

    void setStatusText(const TextString& value) override {
        calls.push_back(std::string("setStatusText ") + value.c_str());
        statusLine = value.c_str();
    }
    TextString statusText() override { return TextString(statusLine.c_str()); }
    void labelStatus(const TextString& label) override { calls.push_back(std::string("labelStatus ") + label.c_str()); }
    void setSending(uint32_t on) override { calls.push_back("setSending " + std::to_string(on)); }
    uint32_t pullState() override {
        calls.push_back("pullState");
        return 1;
    }
    uint32_t hasAttachment() override { return attachmentShown; }
    void resetAttachmentView() override { calls.push_back("resetAttachmentView"); }
    void showHeader() override { calls.push_back("showHeader"); }
    void show() override { calls.push_back("show"); }
    void hide() override { calls.push_back("hide"); }
    void destroyWindow() override { calls.push_back("destroyWindow"); }
    void networkOperationStarted(TcpSocket&) override { calls.push_back("networkOperationStarted"); }
    void networkOperationEnded() override { calls.push_back("networkOperationEnded"); }
    void receivingStarted(TcpSocket&) override { calls.push_back("receivingStarted"); }
    void receivingEnded() override { calls.push_back("receivingEnded"); }
};

} // namespace vp::test
