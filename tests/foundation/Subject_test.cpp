#include "foundation/Subject.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace vp {
namespace {

// Appends "name:argument" to a shared log on every update.
class Recorder : public Observer {
public:
    Recorder(std::string name, std::vector<std::string>& log, Subject** seen = nullptr)
        : m_name(std::move(name)), m_log(log), m_seen(seen) {}

    uint32_t update(Subject& subject, std::uintptr_t argument) override {
        m_log.push_back(m_name + ":" + std::to_string(argument));
        if (m_seen) *m_seen = &subject;
        return 1;
    }

private:
    std::string m_name;
    std::vector<std::string>& m_log;
    Subject** m_seen;
};

using Log = std::vector<std::string>;

TEST(Subject, NotifyCallsObserversInAttachOrderOnlyAfterSetChanged) {
    Subject subject;
    Log log;
    Subject* seen = nullptr;
    Recorder first("first", log, &seen), second("second", log);
    EXPECT_EQ(subject.attach(&second), 1u);
    EXPECT_EQ(subject.attach(&first), 1u);
    EXPECT_EQ(subject.attach(nullptr), 0u);

    EXPECT_EQ(subject.notify(1), 1u);
    EXPECT_TRUE(log.empty());

    EXPECT_EQ(subject.setChanged(), 0u);
    EXPECT_EQ(subject.setChanged(), 1u);
    EXPECT_EQ(subject.notify(2), 1u);
    EXPECT_EQ(log, (Log{"second:2", "first:2"}));
    EXPECT_EQ(seen, &subject);

    // The flag was cleared by the notify.
    EXPECT_EQ(subject.notify(3), 1u);
    EXPECT_EQ(log.size(), 2u);
    EXPECT_EQ(subject.setChanged(), 0u);
}

TEST(Subject, DetachRemovesTheFirstEntryOnly) {
    Subject subject;
    Log log;
    Recorder a("a", log), b("b", log);
    subject.attach(&a);
    subject.attach(&b);
    subject.attach(&a);
    EXPECT_EQ(subject.detach(&a), 1u);
    subject.setChanged();
    subject.notify(0);
    EXPECT_EQ(log, (Log{"b:0", "a:0"}));

    EXPECT_EQ(subject.detach(&a), 1u);
    EXPECT_EQ(subject.detach(&a), 0u);
    log.clear();
    subject.setChanged();
    subject.notify(1);
    EXPECT_EQ(log, (Log{"b:1"}));

    subject.detachAll();
    log.clear();
    subject.setChanged();
    subject.notify(2);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(subject.detach(&b), 0u);
}

TEST(Subject, ASubjectRelaysAsAnObserver) {
    Subject outer, inner;
    Log log;
    Recorder recorder("r", log);
    outer.attach(&inner);
    outer.attach(&recorder);
    EXPECT_EQ(inner.update(outer, 5), 1u);
    outer.setChanged();
    EXPECT_EQ(outer.notify(5), 1u);
    EXPECT_EQ(log, (Log{"r:5"}));
}

} // namespace
} // namespace vp
