// The watcher that shuts a connection down under a statement run past its
// limit, on a socket pair standing in for libpq's connection: it fires for
// a statement that hangs even while it sleeps towards a much later limit (a
// schema migration's), and never for one that ends within its own limit
// after a shorter one armed it first.

#include "collect/StatementDeadline.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

TEST(StatementDeadline, firesOnlyForTheStatementThatRunsPastItsOwnLimit)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    {
        zrv::collect::StatementDeadline deadline;
        deadline.watch(fds[0]);

        // The watcher now sleeps towards a quarter of an hour.
        EXPECT_FALSE(deadline.run(15min, [] {}));
        // A statement with a short limit that ends within a later one: the
        // watcher wakes at the short limit and finds another one running.
        EXPECT_FALSE(deadline.run(30ms, [] {}));
        EXPECT_FALSE(deadline.run(2s, [] { std::this_thread::sleep_for(150ms); }));

        // A read the peer never answers ends when the socket is shut down.
        const auto began = std::chrono::steady_clock::now();
        ssize_t got = 1;
        EXPECT_TRUE(deadline.run(100ms, [&] {
            char byte;
            got = ::recv(fds[0], &byte, 1, 0);
        }));
        EXPECT_LE(got, 0);
        const auto took = std::chrono::steady_clock::now() - began;
        EXPECT_GE(took, 100ms);
        EXPECT_LT(took, 1s);
        // Fired once, for that statement alone.
        deadline.watch(-1);
        EXPECT_FALSE(deadline.run(1s, [] {}));
    }
    ::close(fds[0]);
    ::close(fds[1]);
}
