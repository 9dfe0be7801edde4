// The modem dialogue over an in-memory line with simulated time.

#include "HayesModem.h"
#include "modem/ModemDialogue.h"
#include "support/MemoryLine.h"

#include <gtest/gtest.h>

#include <random>

using namespace zrv::modem;
using namespace zrvtest;

namespace {

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

}  // namespace

TEST(ModemDialogue, DialCommandBytes)
{
    EXPECT_EQ(dialCommand("123"), "ATDP123\r");
    MemoryLine line;
    ModemDialogue d(line);
    d.dial("123");
    ASSERT_EQ(line.written.size(), 1u);
    EXPECT_EQ(line.written[0], bytesOf("ATDP123\r"));
    EXPECT_EQ(line.purges, 1);
    EXPECT_TRUE(d.dialling());
}

TEST(ModemDialogue, ConnectInOneReadSucceeds)
{
    MemoryLine line;
    ModemDialogue d(line);
    d.dial("5550");
    line.arrive(bytesOf("\r\nCONNECT 9600\r\n"));
    const TickOutcome r = d.tick();
    EXPECT_EQ(r.kind, TickOutcome::Connected);
    EXPECT_EQ(r.state, "Соединение успешно");
    EXPECT_TRUE(r.success());
    EXPECT_FALSE(d.dialling());
    EXPECT_EQ(line.bytesQueued(), 0u);
}

TEST(ModemDialogue, FailuresShowTheirTextsAndDiallingAgainWorks)
{
    MemoryLine line;
    ModemDialogue d(line);
    const std::pair<const char*, const char*> cases[] = {
        {"\r\nNO CARRIER\r\n", "Нет несущей"},
        {"\r\nNO DIALTONE\r\n", "Нет линии"},
        {"\r\nBUSY\r\n", "Занято"},
        {"BUSY NO CARRIER", "Нет несущей"},  // precedence, not position
    };
    for (const auto& [answer, state] : cases) {
        d.dial("123");
        line.arrive(bytesOf(answer));
        const TickOutcome r = d.tick();
        EXPECT_EQ(r.kind, TickOutcome::Failed) << answer;
        EXPECT_EQ(r.state, state);
        EXPECT_FALSE(r.success());
    }
    EXPECT_EQ(line.written.size(), 4u);  // four dials
}

TEST(ModemDialogue, EchoAndOkAreDiscardedAndSupervisionGoesOn)
{
    MemoryLine line;
    ModemDialogue d(line);
    d.dial("123");
    line.arrive(bytesOf("ATDP123\r\r\nOK\r\n"));
    const int purgesBefore = line.purges;
    EXPECT_EQ(d.tick().kind, TickOutcome::Waiting);
    EXPECT_EQ(line.purges, purgesBefore + 1);
    EXPECT_TRUE(d.dialling());
    line.arrive(bytesOf("CONNECT"));
    EXPECT_EQ(d.tick().kind, TickOutcome::Connected);
}

TEST(ModemDialogue, ATokenSplitAcrossTwoReadsIsNotRecognised)
{
    MemoryLine line;
    ModemDialogue d(line);
    d.dial("123");
    line.arrive(bytesOf("\r\nCONN"));
    EXPECT_EQ(d.tick().kind, TickOutcome::Waiting);
    line.arrive(bytesOf("ECT 9600\r\n"));
    EXPECT_EQ(d.tick().kind, TickOutcome::Waiting);
}

TEST(ModemDialogue, CarrierChangeSucceedsWithAnEmptyState)
{
    MemoryLine line;
    ModemDialogue d(line);
    d.dial("123");
    line.carrierChange = true;
    line.arrive(bytesOf("BUSY"));  // the carrier is tested first
    const TickOutcome r = d.tick();
    EXPECT_EQ(r.kind, TickOutcome::Carrier);
    EXPECT_TRUE(r.state.empty());
    EXPECT_TRUE(r.success());
}

TEST(ModemDialogue, NoAnswerAfter3500QuietTicksSendsAth0)
{
    MemoryLine line;
    ModemDialogue d(line);
    d.dial("123");
    for (uint32_t i = 0; i < kNoAnswerTicks; ++i) ASSERT_EQ(d.tick().kind, TickOutcome::Waiting) << i;
    const TickOutcome r = d.tick();
    EXPECT_EQ(r.kind, TickOutcome::NoAnswer);
    EXPECT_EQ(r.state, "Нет ответа");
    EXPECT_EQ(line.written.back(), bytesOf("ath0\r\n"));
    EXPECT_EQ(d.tick().kind, TickOutcome::Waiting);  // nothing more after a result
    // A new dial starts counting again.
    d.dial("123");
    EXPECT_EQ(d.ticksWithoutEvent(), 0u);
}

TEST(ModemDialogue, AbandonWithoutADialSendsAth0)
{
    MemoryLine line;
    ModemDialogue d(line);
    d.abandon();
    ASSERT_EQ(line.written.size(), 1u);
    EXPECT_EQ(line.written[0], bytesOf("ath0\r\n"));
}

TEST(ModemDialogue, HangUpSequence)
{
    MemoryLine line;
    std::vector<std::string> statuses;
    HangUp(line, [&](const std::string& s) { statuses.push_back(s); });
    EXPECT_EQ(statuses, (std::vector<std::string>{"Разрываю соединение...", "Усторйство не обнаружено"}));
    EXPECT_EQ(line.written, (std::vector<Bytes>{bytesOf("+++"), bytesOf("ath0\r\n")}));
    EXPECT_EQ(line.pauses, (std::vector<milliseconds>{milliseconds(3500), milliseconds(3500), milliseconds(3500)}));
}

TEST(ModemDialogue, AnyBytesFromTheModemNeverHurt)
{
    MemoryLine line;
    ModemDialogue d(line);
    std::mt19937 rng(5);
    int decided = 0;
    for (int round = 0; round < 300; ++round) {
        if (!d.dialling()) d.dial("1");
        Bytes noise(rng() % 5000);
        for (auto& b : noise) b = uint8_t(rng());
        line.arrive(noise);
        decided += d.tick().finished();
        EXPECT_EQ(line.bytesQueued(), 0u);  // read or discarded, never left behind
    }
    EXPECT_LT(decided, 300);
}

// The simulator's modem, as the end-to-end tests meet it.
TEST(HayesModem, CommandsDialResultsAndTheEscapeGuard)
{
    using namespace std::chrono_literals;
    zrvsim::HayesModem m;
    const auto t0 = zrvsim::Clock::now();
    std::string out;
    EXPECT_EQ(m.input("AT\r", t0, out), "");
    EXPECT_EQ(out, "AT\r\r\nOK\r\n");  // echo, then OK
    out.clear();
    m.input("ATDP5551\r", t0, out);
    m.advance(t0 + 200ms, out);
    EXPECT_NE(out.find("BUSY"), std::string::npos);
    out.clear();
    m.input("ATDP5550\r", t0 + 1s, out);
    m.advance(t0 + 2s, out);
    EXPECT_NE(out.find("CONNECT 9600"), std::string::npos);
    EXPECT_TRUE(m.dataMode());
    out.clear();
    EXPECT_EQ(m.input("\x01\x03+", t0 + 2500ms, out), "\x01\x03+");  // data, a plus without a guard
    // "+++" after a guard of silence, then silence: command mode.
    EXPECT_EQ(m.input("+++", t0 + 4s, out), "");
    m.advance(t0 + 4500ms, out);
    EXPECT_TRUE(m.dataMode());
    m.advance(t0 + 5100ms, out);
    EXPECT_FALSE(m.dataMode());
    EXPECT_EQ(out, "\r\nOK\r\n");
    m.input("ath0\r\n", t0 + 6s, out);
    EXPECT_FALSE(m.callUp());
    EXPECT_EQ(m.events().back().what, "hangup");
}
