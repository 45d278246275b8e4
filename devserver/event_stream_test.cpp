#include "devserver/event_stream.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace cadrio::devserver {
namespace {

using Kind = EventStream::Next::Kind;
using std::chrono::steady_clock;

TEST(EventStream, HandsOutFramesInOrderAndDropsBeyondItsBound) {
    EventStream stream("a@b.c", 3);
    for (const char* frame : {"1", "2", "3"}) EXPECT_TRUE(stream.push(frame));
    EXPECT_FALSE(stream.push("4"));
    for (const char* expected : {"1", "2", "3"}) {
        const auto next = stream.waitNext(steady_clock::now());
        EXPECT_EQ(next.kind, Kind::frame);
        EXPECT_EQ(next.frame, expected);
    }
    EXPECT_EQ(stream.waitNext(steady_clock::now()).kind, Kind::timeout);
    EXPECT_TRUE(stream.push("5")) << "room again once the writer caught up";
}

TEST(EventStream, DeliversWhatWasQueuedBeforeClosing) {
    EventStream stream("a@b.c");
    stream.push("last");
    stream.close();
    EXPECT_FALSE(stream.push("late"));
    EXPECT_EQ(stream.waitNext(steady_clock::now()).frame, "last");
    EXPECT_EQ(stream.waitNext(steady_clock::now()).kind, Kind::closed);
}

TEST(EventStream, WakesAWaitingWriter) {
    for (const bool closeIt : {false, true}) {
        EventStream stream("a@b.c");
        std::thread other([&] { closeIt ? stream.close() : void(stream.push("x")); });
        // A deadline far away: only the wake-up can end the wait.
        const auto next = stream.waitNext(steady_clock::now() + std::chrono::minutes(5));
        other.join();
        EXPECT_EQ(next.kind, closeIt ? Kind::closed : Kind::frame);
    }
}

}  // namespace
}  // namespace cadrio::devserver
