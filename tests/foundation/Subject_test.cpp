#include "foundation/Subject.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace vp {
namespace {

using Log = std::vector<std::string>;

// Appends "name:argument" to a shared log on every update.
class Recorder : public Observer {
public:
    Recorder(std::string name, Log& log) : m_name(std::move(name)), m_log(log) {}

    uint32_t update(Subject& subject, std::uintptr_t argument) override {
        m_log.push_back(m_name + ":" + std::to_string(argument));
        seen = &subject;
        return 1;
    }

    Subject* seen = nullptr;

private:
    std::string m_name;
    Log& m_log;
};

// Sets the subject changed and notifies it: what the observers logged.
Log notified(Subject& subject, Log& log, std::uintptr_t argument) {
    log.clear();
    subject.setChanged();
    EXPECT_EQ(subject.notify(argument), 1u);
    return log;
}

TEST(Subject, NotifyCallsObserversInAttachOrderOnlyAfterSetChanged) {
    Subject subject;
    Log log;
    Recorder first("first", log), second("second", log);
    EXPECT_EQ(subject.attach(&second), 1u);
    EXPECT_EQ(subject.attach(&first), 1u);
    EXPECT_EQ(subject.attach(nullptr), 0u);

    EXPECT_EQ(subject.notify(1), 1u);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(subject.setChanged(), 0u);
    EXPECT_EQ(subject.setChanged(), 1u);
    EXPECT_EQ(subject.notify(2), 1u);
    EXPECT_EQ(log, (Log{"second:2", "first:2"}));
    EXPECT_EQ(first.seen, &subject);
    // The notify cleared the flag.
    EXPECT_EQ(subject.notify(3), 1u);
    EXPECT_EQ(log.size(), 2u);
    EXPECT_EQ(subject.setChanged(), 0u);
}

TEST(Subject, DetachRemovesTheFirstEntryOnlyAndASubjectRelays) {
    Subject subject;
    Subject relay;
    Log log;
    Recorder a("a", log), b("b", log);
    subject.attach(&a);
    subject.attach(&b);
    subject.attach(&a);
    subject.attach(&relay);
    relay.attach(&b);
    EXPECT_EQ(subject.detach(&a), 1u);
    // The relay's own update passes nothing on.
    EXPECT_EQ(notified(subject, log, 0), (Log{"b:0", "a:0"}));
    EXPECT_EQ(subject.detach(&a), 1u);
    EXPECT_EQ(subject.detach(&a), 0u);
    EXPECT_EQ(notified(subject, log, 1), (Log{"b:1"}));
    subject.detachAll();
    EXPECT_EQ(notified(subject, log, 2), Log{});
    EXPECT_EQ(subject.detach(&b), 0u);
}

} // namespace
} // namespace vp
