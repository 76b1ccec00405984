// How the codec uses memory: how often packers and the frame parser allocate,
// and what every operation does when an allocation is refused. This
// executable replaces the global allocation functions so that it can count
// and refuse allocations while a probe is active.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <vector>

#include "codec_test_support.hpp"
#include "qx_sdk_protocol/codec/client_protocol.h"
#include "qx_sdk_protocol/codec/protocol_base.h"

namespace {

struct AllocationProbe {
    bool active = false;
    unsigned count = 0;
    size_t sizes[16] = {};
    uint32_t refuse_mask = 0;  // bit i: refuse the i-th allocation while active
    bool refuse_all = false;
};

AllocationProbe probe;

// Counts (and possibly refuses) allocations made while it lives.
class ProbeScope {
public:
    explicit ProbeScope(uint32_t refuse_mask = 0, bool refuse_all = false) {
        probe = AllocationProbe{};
        probe.refuse_mask = refuse_mask;
        probe.refuse_all = refuse_all;
        probe.active = true;
    }
    ProbeScope(const ProbeScope&) = delete;
    ProbeScope& operator=(const ProbeScope&) = delete;
    ~ProbeScope() { probe.active = false; }
};

void* allocate(size_t size) noexcept {
    if (probe.active) {
        const unsigned index = probe.count++;
        if (index < std::size(probe.sizes)) {
            probe.sizes[index] = size;
        }
        if (probe.refuse_all || (index < 32 && ((probe.refuse_mask >> index) & 1u) != 0)) {
            return nullptr;
        }
    }
    return std::malloc(size == 0 ? 1 : size);
}

void* allocate_or_throw(size_t size) {
    void* p = allocate(size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

}  // namespace

void* operator new(size_t size) { return allocate_or_throw(size); }
void* operator new[](size_t size) { return allocate_or_throw(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using Bytes = std::vector<uint8_t>;
constexpr auto OK = QX_PROTOCOL_STATUS_SUCCESS;
constexpr uint32_t V2 = 2;

using Pack = std::function<qx_protocol_status_t(qx_packet_t*)>;

const qx_packet_generator_config_t PG_CONFIG = {1, 2, 1, 64, true};
const uint8_t CHUNK[300] = {};

struct PackCase {
    const char* operation;
    Pack pack;
    unsigned allocations;
};

// clang-format off
#define NO_PAYLOAD(op) PackCase{#op, [](qx_packet_t* p) { return pack_##op##_request(V2, p); }, 0}
#define INDEX_ONLY(op) PackCase{#op, [](qx_packet_t* p) { return pack_##op##_request(V2, p, 1); }, 1}
// clang-format on

const std::vector<PackCase>& packers_without_text() {
    static const std::vector<PackCase> cases = {
        // clang-format off
        NO_PAYLOAD(device_get_name),
        NO_PAYLOAD(device_get_nickname),
        NO_PAYLOAD(device_identify),
        NO_PAYLOAD(get_firmware_ean),
        NO_PAYLOAD(get_ean),
        NO_PAYLOAD(get_serial_number),
        NO_PAYLOAD(get_firmware_version),
        NO_PAYLOAD(get_bootloader_version),
        NO_PAYLOAD(get_pcb_revision),
        NO_PAYLOAD(get_num_interfaces),
        NO_PAYLOAD(get_manufacturing_date),
        NO_PAYLOAD(firmware_update_finalize),
        INDEX_ONLY(interface_get_nickname),
        INDEX_ONLY(get_interface_status),
        INDEX_ONLY(interface_identify),
        INDEX_ONLY(interface_get_supported_eth_configs),
        INDEX_ONLY(interface_get_eth_config),
        INDEX_ONLY(interface_get_tc10_state),
        INDEX_ONLY(interface_read_dcq),
        INDEX_ONLY(interface_run_cable_test),
        INDEX_ONLY(interface_get_loopback_state),
        INDEX_ONLY(interface_get_packet_generator_config),
        {"interface_set_eth_config",
         [](qx_packet_t* p) { return pack_interface_set_eth_config_request(V2, p, 1, 0x281); }, 1},
        {"interface_send_tc10_command",
         [](qx_packet_t* p) { return pack_interface_send_tc10_command_request(V2, p, 1, 1); }, 1},
        {"interface_set_loopback_state",
         [](qx_packet_t* p) { return pack_interface_set_loopback_state_request(V2, p, 1, true); }, 1},
        {"interface_set_packet_generator_config",
         [](qx_packet_t* p) { return pack_interface_set_packet_generator_config_request(V2, p, 1, &PG_CONFIG); }, 1},
        {"firmware_update_start",
         [](qx_packet_t* p) { return pack_firmware_update_start_request(V2, p, 0, 70'000); }, 1},
        // A byte string, but its length is known up front and reserved with the rest.
        {"firmware_update_send_chunk",
         [](qx_packet_t* p) { return pack_firmware_update_send_chunk_request(V2, p, 4, CHUNK, sizeof CHUNK); }, 1},
        // clang-format on
    };
    return cases;
}

TEST(CodecAllocation, PackersWithoutTextAllocateAtMostOnce) {
    for (const PackCase& c : packers_without_text()) {
        SCOPED_TRACE(c.operation);
        Packet packet;
        qx_protocol_status_t status;
        unsigned allocations;
        {
            ProbeScope scope;
            status = c.pack(&packet);
            allocations = probe.count;
        }
        EXPECT_EQ(status, OK);
        EXPECT_EQ(allocations, c.allocations);
        // The one allocation is exactly the payload: the reservation was right.
        EXPECT_EQ(packet.capacity, packet.length);
    }
}

TEST(CodecAllocation, AReceivedFrameTakesOneAllocationOfItsPayloadLength) {
    Bytes frame = {0x14, 0x00, 0x05, 0x00, 0x01, 0x00, 0x81, 0x02, 0x01, 0xEE, 0xEE};
    Packet packet;
    qx_protocol_status_t status;
    unsigned allocations;
    size_t size;
    {
        ProbeScope scope;
        status = from_buffer(frame.data(), frame.size(), &packet);
        allocations = probe.count;
        size = probe.sizes[0];
    }
    EXPECT_EQ(status, OK);
    EXPECT_EQ(allocations, 1u);
    EXPECT_EQ(size, 5u);

    const Bytes header_only = {0x02, 0x00, 0x00, 0x00};
    Packet empty;
    {
        ProbeScope scope;
        status = from_buffer(header_only.data(), header_only.size(), &empty);
        allocations = probe.count;
    }
    EXPECT_EQ(status, OK);
    EXPECT_EQ(allocations, 0u);
}

TEST(CodecOutOfMemory, AFailedReservationKeepsTheOldBufferAndContents) {
    Packet packet;
    ASSERT_EQ(init_packet(&packet, 3, 2), OK);
    ASSERT_EQ(write_uint16_t(&packet, 0xBEEF), OK);
    const uint8_t* old_data = packet.data;

    qx_protocol_status_t reserve_status;
    qx_protocol_status_t write_status;
    {
        ProbeScope scope(0, true);
        reserve_status = packet_reserve_space(&packet, 10);
        write_status = write_uint32_t(&packet, 1);
    }
    EXPECT_EQ(reserve_status, QX_PROTOCOL_STATUS_MEMORY_ERROR);
    EXPECT_EQ(write_status, QX_PROTOCOL_STATUS_MEMORY_ERROR);
    EXPECT_EQ(packet.data, old_data);
    EXPECT_EQ(packet.capacity, 2u);
    EXPECT_EQ(packet.length, 2u);
    EXPECT_EQ(packet.position, 2u);
    uint8_t out[6] = {};
    ASSERT_EQ(to_buffer(&packet, out, sizeof out), OK);
    EXPECT_EQ(Bytes(out, out + 6), (Bytes{3, 0, 2, 0, 0xEF, 0xBE}));
}

TEST(CodecOutOfMemory, AFrameThatCannotBeStoredLeavesAPacketThatIsSafeToUseAndFree) {
    const Bytes frame = {0x02, 0x00, 0x02, 0x00, 0x02, 0x00};
    Packet packet;
    qx_protocol_status_t status;
    {
        ProbeScope scope(0, true);
        status = from_buffer(frame.data(), frame.size(), &packet);
    }
    EXPECT_EQ(status, QX_PROTOCOL_STATUS_MEMORY_ERROR);
    EXPECT_EQ(packet.command, 2);
    EXPECT_EQ(packet.length, 2);
    uint16_t version = 0x7777;
    EXPECT_EQ(unpack_get_version_response(&packet, &version),
              QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE);
    EXPECT_EQ(version, 0x7777);
}

TEST(CodecOutOfMemory, PackersReserveAgainWhenTheirFirstReservationFails) {
    Packet recovered;
    qx_protocol_status_t status;
    {
        ProbeScope scope(0b1);  // only the up-front reservation is refused
        status = pack_interface_identify_request(V2, &recovered, 3);
    }
    EXPECT_EQ(status, OK);
    uint8_t out[6] = {};
    ASSERT_EQ(to_buffer(&recovered, out, sizeof out), OK);
    EXPECT_EQ(Bytes(out, out + 6), (Bytes{21, 0, 2, 0, 3, 0}));

    Packet starved;
    {
        ProbeScope scope(0, true);
        status = pack_interface_identify_request(V2, &starved, 3);
    }
    EXPECT_EQ(status, QX_PROTOCOL_STATUS_MEMORY_ERROR);
}

TEST(CodecOutOfMemory, EthConfigReportsAFailedIndexWriteAsProtocolError) {
    Packet packet;
    qx_protocol_status_t status;
    {
        ProbeScope scope(0, true);
        status = pack_interface_set_eth_config_request(V2, &packet, 3, 0x281);
    }
    EXPECT_EQ(status, QX_PROTOCOL_STATUS_PROTOCOL_ERROR);
}

TEST(CodecOutOfMemory, ByteStringKeepsItsCountWhenOnlyTheBytesFail) {
    Packet packet;
    ASSERT_EQ(init_packet(&packet, 5, 0), OK);
    const uint8_t bytes[] = {1, 2, 3};
    qx_protocol_status_t status;
    {
        ProbeScope scope(0b10);  // the count's reservation succeeds, the bytes' does not
        status = write_bytes(&packet, bytes, sizeof bytes);
    }
    EXPECT_EQ(status, QX_PROTOCOL_STATUS_MEMORY_ERROR);
    EXPECT_EQ(packet.length, 2u);

    // The same through a nickname packer, whose text grows the buffer.
    Packet nickname;
    {
        ProbeScope scope(0b10);
        status = pack_device_set_nickname_request(V2, &nickname, "abc");
    }
    EXPECT_EQ(status, QX_PROTOCOL_STATUS_MEMORY_ERROR);
    EXPECT_EQ(nickname.length, 2u);
}

}  // namespace
