// The terminal's frames against an independent MODBUS slave: libmodbus on the
// other end of a pseudo-terminal.

#include "link/ModbusTransact.h"
#include "link/PosixSerialLine.h"
#include "support/PtyPair.h"

#include <modbus/modbus.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace zrv;

namespace {

class LibmodbusSlave {
public:
    explicit LibmodbusSlave(const std::string& path)
    {
        m_ctx = modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1);
        m_map = modbus_mapping_new(16, 24, 114, 600);
        if (!m_ctx || !m_map) return;
        modbus_set_slave(m_ctx, 1);
        // libmodbus waits its response time-out before answering a bad count
        // and then flushes; keep that short so the next request survives.
        modbus_set_response_timeout(m_ctx, 0, 20000);
        modbus_set_indication_timeout(m_ctx, 0, 100000);
        if (modbus_connect(m_ctx) != 0) return;
        m_ok = true;
        m_thread = std::thread([this] { serve(); });
    }
    ~LibmodbusSlave()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_ctx) {
            modbus_close(m_ctx);
            modbus_free(m_ctx);
        }
        if (m_map) modbus_mapping_free(m_map);
    }
    bool ok() const { return m_ok; }
    modbus_mapping_t* map() { return m_map; }

private:
    void serve()
    {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!m_stop) {
            const int rc = modbus_receive(m_ctx, query);
            if (rc > 0) modbus_reply(m_ctx, query, rc, m_map);
        }
    }
    modbus_t* m_ctx = nullptr;
    modbus_mapping_t* m_map = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    bool m_ok = false;
};

}  // namespace

TEST(LibmodbusInterop, FramesAreStandard)
{
    zrvtest::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    LibmodbusSlave slave(pty.slavePath);
    ASSERT_TRUE(slave.ok());
    modbus_mapping_t* m = slave.map();
    m->tab_bits[0] = 1;
    m->tab_bits[2] = 1;
    m->tab_bits[15] = 1;
    m->tab_input_bits[16] = 1;
    m->tab_registers[0] = 3;
    m->tab_registers[113] = 0xBEEF;
    m->tab_input_registers[0] = 0x0000;
    m->tab_input_registers[1] = 0x3F80;
    for (int i = 0; i < 125; ++i) m->tab_input_registers[400 + i] = uint16_t(i * 3);

    RegisterImage img;
    ModbusLink link(img);
    link.setPort(PosixSerialLine::adopt(dup(pty.master)));

    ASSERT_TRUE(link.transact(1, 0, 16).ok());
    EXPECT_EQ(img.coil(0), 1);
    EXPECT_EQ(img.coil(1), 0);
    EXPECT_EQ(img.coil(15), 1);
    ASSERT_TRUE(link.transact(2, 0, 24).ok());
    EXPECT_EQ(img.discrete(16), 1);
    ASSERT_TRUE(link.transact(3, 0, 114).ok());
    EXPECT_EQ(img.holding(0), 3);
    EXPECT_EQ(img.holding(113), 0xBEEF);
    ASSERT_TRUE(link.transact(4, 0, 28).ok());
    EXPECT_EQ(img.inputF32(0), 1.0f);
    ASSERT_TRUE(link.transact(4, 400, 125).ok());
    EXPECT_EQ(img.input(524), 124 * 3);

    ASSERT_TRUE(link.transact(5, 15, 0).ok());
    EXPECT_EQ(m->tab_bits[15], 0);
    ASSERT_TRUE(link.transact(5, 3, 9).ok());
    EXPECT_EQ(m->tab_bits[3], 1);

    for (int a = 0; a < 114; ++a) img.setHolding(uint16_t(a), uint16_t(1000 + a));
    ASSERT_TRUE(link.transact(16, 0, 114).ok());
    EXPECT_EQ(m->tab_registers[0], 1000);
    EXPECT_EQ(m->tab_registers[113], 1113);

    // An illegal address comes back as an exception: a failure.
    EXPECT_FALSE(link.transact(3, 110, 8).ok());
    EXPECT_TRUE(link.transact(3, 0, 1).ok());
    EXPECT_EQ(link.counters().failures.load(), 1);
}
