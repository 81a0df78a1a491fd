#include "notes/NotePaper.h"

#include <string>

#include <gtest/gtest.h>

namespace vp {
namespace {

std::string text(const NoteRect& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

TEST(NotePaperTest, LayoutOfAFreshNote) {
    struct Row {
        bool header, attachment;
        const char* expected;  // body | attachment | status | header toggle | close box | name field | grip
    };
    const Row rows[] = {
        {false, false, "5,25,165,105|5,90,165,110|5,112,165,127|165,25,180,35|167,4,181,20|60,24,165,44|170,115,185,130"},
        {true, true, "5,50,165,90|5,90,165,110|5,112,165,127|165,50,180,60|167,4,181,20|60,24,165,44|170,115,185,130"},
    };
    for (const Row& row : rows) {
        const NotePaperLayout l = notePaperLayout(185, 130, row.header, row.attachment);
        EXPECT_EQ(text(l.body) + "|" + text(l.attachment) + "|" + text(l.status) + "|" + text(l.headerToggle) + "|" +
                      text(l.closeBox) + "|" + text(l.nameField) + "|" + text(l.grip),
                  row.expected)
            << row.header << row.attachment;
        EXPECT_EQ(l.headerHeight, row.header ? 25 : 0);
    }
}

TEST(NotePaperTest, ResizingStaysBetweenTheLeastSizeAndTheScreen) {
    const NoteSize screen{1024, 768};
    EXPECT_EQ(limitNoteSize({10, 10}, 0, screen).width, 93);
    EXPECT_EQ(limitNoteSize({10, 10}, 0, screen).height, 56);
    EXPECT_EQ(limitNoteSize({10, 10}, 25, screen).height, 81);
    EXPECT_EQ(limitNoteSize({5000, 5000}, 25, screen).width, 1024);
    EXPECT_EQ(limitNoteSize({5000, 5000}, 25, screen).height, 768);
    EXPECT_EQ(limitNoteSize({300, 200}, 25, screen).width, 300);
}

TEST(NotePaperTest, NameFieldAsStored) {
    const std::pair<std::string, std::string> rows[] = {
        {"  Ann   Lee@MainHub  ", "ann lee@mainhub"},
        {"bob@127.0.0.1", "bob@127.0.0.1"},
        {"   ", ""},
        {"\xC4nn", "\xC4nn"},  // only A-Z are lowered
        {std::string(300, 'X'), std::string(256, 'x')},
    };
    for (const auto& [field, stored] : rows) EXPECT_EQ(notePeerName(field.c_str()).c_str(), stored) << field;
    EXPECT_STREQ(noteTitle("").c_str(), "Note");
    EXPECT_STREQ(noteTitle("ann").c_str(), "ann");
}

// Every state: received, sending, a socket in use, a transfer running.
TEST(NotePaperTest, ButtonEscAndCloseBoxByState) {
    const char* button[] = {"Reply", "Send", "CloseReceive", "CloseSend", "Stop"};
    const char* del[] = {"Beep", "RefuseTransfer", "OfferHide", "AskDelete"};
    const char* close[] = {"RefuseTransfer", "RefuseDelivery", "AskDestroy", "Destroy", "Beep"};
    auto name = [&](ButtonAction a) {
        switch (a) {
        case ButtonAction::Reply: return button[0];
        case ButtonAction::Send: return button[1];
        case ButtonAction::CloseReceiveSocket: return button[2];
        case ButtonAction::CloseSendSocket: return button[3];
        case ButtonAction::StopTransfer: return button[4];
        }
        return "?";
    };
    struct Row {
        NotePaperState state;
        const char* expected;  // button | Esc | close box (prompting)
    };
    const Row rows[] = {
        {{false, false, false, false}, "Send|AskDelete|AskDestroy"},
        {{true, false, false, false}, "Reply|AskDelete|AskDestroy"},
        {{false, true, false, false}, "CloseSend|OfferHide|RefuseDelivery"},
        {{false, true, false, true}, "Stop|RefuseTransfer|RefuseTransfer"},
        {{false, true, true, false}, "CloseSend|Beep|RefuseDelivery"},
        {{false, true, true, true}, "Stop|Beep|RefuseTransfer"},
        {{true, false, true, false}, "CloseReceive|Beep|Beep"},
    };
    for (const Row& row : rows) {
        const std::string got = std::string(name(buttonAction(row.state))) + "|" +
                                del[static_cast<int>(deleteAction(row.state))] + "|" +
                                close[static_cast<int>(closeAction(row.state, true))];
        EXPECT_EQ(got, row.expected) << row.state.received << row.state.sending << row.state.networkOperation
                                     << row.state.transferring;
    }
    EXPECT_EQ(closeAction({}, false), CloseAction::Destroy);
}

TEST(NotePaperTest, DroppedFilesAndTheChecksBeforeSending) {
    EXPECT_EQ(dropResult(2, true, true, false), DropResult::TooMany);
    EXPECT_EQ(dropResult(1, false, false, false), DropResult::NotOpened);
    EXPECT_EQ(dropResult(1, true, false, false), DropResult::NotDiskFile);
    EXPECT_EQ(dropResult(1, true, true, true), DropResult::ReplyWithFile);
    EXPECT_EQ(dropResult(1, true, true, false), DropResult::Attach);

    const TextString received("C:\\Vellumpost\\Users\\bob\\Attachments\\");
    EXPECT_TRUE(attachmentMayMove(TextString("c:\\vellumpost\\users\\BOB\\attachments\\\\"), received));
    EXPECT_FALSE(attachmentMayMove(TextString("C:\\Photos\\"), received));
    EXPECT_FALSE(attachmentMayMove(TextString(""), TextString("")));

    struct Row {
        bool attachment;
        const char* error;
        uint64_t size;
        bool connected;
        const char* peer;
        const char* expected;
    };
    const Row rows[] = {
        {true, "Access is denied.", 0, true, "ann", "Cannot deliver this note.\nReason: Access is denied."},
        {true, "", 0, true, "ann", "Cannot deliver this note.\nThe attached file is empty."},
        {true, "", 10, false, "ann",
         "You will need to be connected to a server to send this note.\nWould you like to connnect now?"},
        {false, "", 0, false, "10.0.0.7", ""},
        {false, "", 0, true, "ann", ""},
    };
    for (const Row& row : rows) {
        const SendCheck check = sendCheck(row.attachment, TextString(row.error), row.size, row.connected, row.peer);
        EXPECT_STREQ(check.text.c_str(), row.expected);
        EXPECT_EQ(check.askConnect, std::string(row.expected).starts_with("You will"));
    }
}

} // namespace
} // namespace vp
