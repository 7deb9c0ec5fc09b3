// The message FIFO between the input threads and the main loop.
#include "controller/link/msgfifo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "tests/support/TempLog.h"

namespace {

using testing::HasSubstr;
using testing::MatchesRegex;
using testing::Not;

class MsgFifo : public testing_support::TempLogTest {};
class MsgFifoConcurrency : public testing_support::TempLogTest {};

int countOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(MsgFifo, HoldsOneElementLessThanItsSlots) {
    KbdFifo fifo;
    EXPECT_EQ(fifo.fill_level(), 0);
    for (char c = 'a'; c < 'a' + 7; ++c) {
        ASSERT_EQ(fifo.push(&c), 0);
    }
    EXPECT_EQ(fifo.fill_level(), 7);
    char dropped = 'X';
    EXPECT_EQ(fifo.push(&dropped), MSGFIFO_FULL);
    EXPECT_EQ(fifo.fill_level(), 7);

    std::string popped;
    char c = 0;
    while (fifo.pop(&c) == 0) {
        popped += c;
    }
    EXPECT_EQ(popped, "abcdefg");
    EXPECT_EQ(fifo.fill_level(), 0);
}

TEST_F(MsgFifo, TheMessageFifoHoldsFifteen) {
    MessageFifo fifo;
    message_s msg{tEV_KEY | UKEY_UP, 0};
    for (int i = 0; i < 15; ++i) {
        ASSERT_EQ(fifo.push(&msg), 0) << i;
    }
    EXPECT_EQ(fifo.push(&msg), MSGFIFO_FULL);
    EXPECT_EQ(fifo.fill_level(), 15);
}

TEST_F(MsgFifo, KeepsOrderAndContentAcrossTheWrapOfTheIndices) {
    MouseFifo fifo;
    int next = 0;
    int expected = 0;
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 5; ++i, ++next) {
            mouseMessage in{static_cast<uint16_t>(next), static_cast<uint16_t>(next * 3), -next};
            ASSERT_EQ(fifo.push(&in), 0);
        }
        for (int i = 0; i < 5; ++i, ++expected) {
            mouseMessage out{};
            ASSERT_EQ(fifo.pop(&out), 0);
            EXPECT_EQ(out.type, expected);
            EXPECT_EQ(out.code, expected * 3);
            EXPECT_EQ(out.value, -expected);
        }
        EXPECT_EQ(fifo.fill_level(), 0);
    }
}

TEST_F(MsgFifo, PoppingAnEmptyFifoReportsItWithTheIndex) {
    KbdFifo fifo;
    fifo.set_name("KbdRXFIFO");
    char c = 'q';
    testing::internal::CaptureStdout();
    EXPECT_EQ(fifo.pop(&c), MSGFIFO_EMPTY);
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                HasSubstr("MF: Attempted POP on empty KbdRXFIFO (indx 3)\n"));
    EXPECT_EQ(c, 'q');
}

TEST_F(MsgFifo, ANewNameIsAnnouncedWithTheOldOne) {
    MessageFifo fifo;
    testing::internal::CaptureStdout();
    fifo.set_name("UserCtlTxFIFO");
    fifo.set_name("UserCtlRxFIFO");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, MatchesRegex("MF: changed name from 0x[0-9a-f]+ to UserCtlTxFIFO\n"
                                  "MF: changed name from UserCtlTxFIFO to UserCtlRxFIFO\n"));
}

TEST_F(MsgFifo, OverflowWarnsOnceWhileFullAndAgainAfterASuccessfulPush) {
    KbdFifo fifo;
    fifo.set_name("KbdRXFIFO");
    char c = 'k';
    for (int i = 0; i < 7; ++i) {
        fifo.push(&c);
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(fifo.push(&c), MSGFIFO_FULL);
    EXPECT_EQ(fifo.push(&c), MSGFIFO_FULL);
    EXPECT_EQ(fifo.push(&c), MSGFIFO_FULL);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countOf(out, "MF: FifoFull KbdRXFIFO\n"), 1);
    EXPECT_THAT(out, HasSubstr("MF: Wr_indx 2 rd_indx 3\n"));

    fifo.pop(&c);
    ASSERT_EQ(fifo.push(&c), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(fifo.push(&c), MSGFIFO_FULL);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countOf(out, "MF: FifoFull KbdRXFIFO\n"), 1);
    EXPECT_THAT(out, HasSubstr("MF: Wr_indx 3 rd_indx 4\n"));
    EXPECT_EQ(countOf(logText(), "MF: FifoFull KbdRXFIFO\n"), 2);
}

TEST_F(MsgFifo, DebugTracesLockingOnStandardOutput) {
    MessageFifo fifo;
    fifo.set_name("Traced");
    message_s msg{tEV_EXIT, 0};
    testing::internal::CaptureStdout();
    fifo.push(&msg);
    fifo.pop(&msg);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    fifo.set_debug(1);
    testing::internal::CaptureStdout();
    fifo.push(&msg);
    fifo.pop(&msg);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "MF: Mutex lock result 0\n"
                                                      "Push LOCK Traced\n"
                                                      "MF: Push UNLOCK Traced\n"
                                                      "MF: Pop Traced\n"
                                                      "MF: Pop LOCK Traced\n"
                                                      "MF: Pop UNLOCK Traced\n");
    EXPECT_THAT(logText(), Not(HasSubstr("LOCK")));
}

// One producer and one consumer, as the reader threads and the main loop use it: the
// producer retries while the FIFO is full, so every message must come out once, in order
// and with both words intact.
TEST_F(MsgFifoConcurrency, NothingIsLostOrTornBetweenProducerAndConsumer) {
    constexpr uint32_t messages = 20000;
    MessageFifo fifo;
    std::atomic<int> maxLevel{0};

    std::thread producer([&] {
        for (uint32_t i = 0; i < messages; ++i) {
            message_s msg{i, ~i};
            while (fifo.push(&msg) == MSGFIFO_FULL) {
                std::this_thread::yield();
            }
        }
    });

    uint32_t expected = 0;
    bool intact = true;
    while (expected < messages && intact) {
        const int level = fifo.fill_level();
        if (level <= 0) {
            std::this_thread::yield();
            continue;
        }
        maxLevel = std::max(maxLevel.load(), level);
        message_s msg{};
        ASSERT_EQ(fifo.pop(&msg), 0);
        intact = msg.command == expected && msg.data == ~expected;
        ++expected;
    }
    producer.join();
    EXPECT_TRUE(intact) << "message " << expected - 1;
    EXPECT_EQ(expected, messages);
    EXPECT_LE(maxLevel.load(), 15);
    EXPECT_EQ(fifo.fill_level(), 0);
}

// Below capacity a producer never sees a full FIFO, however the threads interleave.
TEST_F(MsgFifoConcurrency, BurstsBelowCapacityAreNeverRefused) {
    constexpr int bursts = 500;
    constexpr int burst = 7;
    KbdFifo fifo;
    std::atomic<int> refused{0};
    std::atomic<int> consumed{0};

    std::thread consumer([&] {
        char c = 0;
        while (consumed < bursts * burst) {
            if (fifo.fill_level() > 0 && fifo.pop(&c) == 0) {
                ++consumed;
            } else {
                std::this_thread::yield();
            }
        }
    });
    for (int b = 0; b < bursts; ++b) {
        // Wait until the consumer has drained the previous burst.
        while (consumed < b * burst) {
            std::this_thread::yield();
        }
        for (int i = 0; i < burst; ++i) {
            char c = static_cast<char>(i);
            if (fifo.push(&c) != 0) {
                ++refused;
            }
        }
    }
    consumer.join();
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(consumed.load(), bursts * burst);
}

} // namespace
