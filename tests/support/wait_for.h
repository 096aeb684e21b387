#pragma once

#include <QDeadlineTimer>
#include <QTest>

namespace yuming::testing {

// Runs the event loop until `condition` holds or `timeoutMs` has passed, and says which. Unlike
// QTRY_*, which only logs to QTest, the caller reports the wait: ASSERT_TRUE(waitFor(...)).
template <class Condition> bool waitFor(Condition condition, int timeoutMs = 5000) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(10);
    }
    return true;
}

} // namespace yuming::testing
