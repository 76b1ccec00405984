// Firmware updates against the fake device: which callbacks run in which
// order, what the device receives, what the caller gets back, and that the
// connection comes out of every update with its own timeouts and an
// unbroken lock.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "qx_sdk_client/src/device.hpp"
#include "qx_sdk_client/src/device_connection.hpp"
#include "qx_sdk_client/src/firmware_update.hpp"
#include "qx_sdk_client/src/firmware_update_callbacks.hpp"
#include "qx_sdk_client/src/tcp_stream.hpp"
#include "qx_sdk_client/src/timeout_override.hpp"
#include "qx_sdk_client/tests/support/fake_device.hpp"
#include "qx_sdk_protocol/src/protocol_error.hpp"

namespace {

using namespace std::chrono_literals;
using qx_sdk_client::device::Device;
using qx_sdk_client::device::FIRMWARE_UPDATE_TIMEOUT;
using qx_sdk_client::device::FirmwareUpdateCallbacks;
using qx_sdk_client::device::FirmwareUpdateResult;
using qx_sdk_client::device::TcpStreamWithTemporaryTcpTimeoutOverride;
using qx_sdk_client::error::Error;
using qx_sdk_client::error::Result;
using qx_sdk_client::net::SocketAddress;
using qx_sdk_client::net::TcpStream;
using qx_sdk_protocol::ProtocolError;
using qx_test::ByteWriter;
using qx_test::DeviceState;
using qx_test::FakeDevice;
using qx_test::Fault;

using Timeout = std::optional<std::chrono::nanoseconds>;

constexpr auto client_timeout = 1337ms;
constexpr uint16_t start_command = 49;
constexpr uint16_t chunk_command = 51;
constexpr uint16_t finalize_command = 53;

// ---- What the callbacks saw ------------------------------------------------

struct Event {
    enum class Kind { Started, Progress, Finalizing, Finished };
    Kind kind;
    uint64_t value = 0;  // size, bytes acknowledged, or the result's number

    friend bool operator==(const Event&, const Event&) = default;
    friend void PrintTo(const Event& e, std::ostream* os) {
        static constexpr const char* names[] = {"started", "progress", "finalizing", "finished"};
        *os << names[static_cast<int>(e.kind)] << '(' << e.value << ')';
    }
};

Event started(uint64_t size) { return {Event::Kind::Started, size}; }
Event progress(uint64_t bytes) { return {Event::Kind::Progress, bytes}; }
Event finalizing() { return {Event::Kind::Finalizing}; }
Event finished(FirmwareUpdateResult result) { return {Event::Kind::Finished, static_cast<uint64_t>(result)}; }

// Records every call; optionally turns to the device being updated from
// inside each callback, which must fail at once instead of waiting on the
// lock the update holds.
class Recorder : public FirmwareUpdateCallbacks {
public:
    explicit Recorder(const Device* reenter = nullptr) : reenter_(reenter) {}

    void update_started(uint64_t total_size) const override { record(started(total_size)); }
    void report_progress(uint64_t acknowledged_bytes) const override { record(progress(acknowledged_bytes)); }
    void update_finished(FirmwareUpdateResult result) const override { record(finished(result)); }
    void start_finalizing() const override { record(finalizing()); }

    // Read-only to the update, a log to the test.
    mutable std::vector<Event> events;
    mutable std::vector<Result<std::string>> reentries;

private:
    void record(Event event) const {
        events.push_back(event);
        if (reenter_ != nullptr) reentries.push_back(reenter_->get_name());
    }

    const Device* reenter_;
};

// ---- Fixture helpers -------------------------------------------------------

// No byte repeats within 256 and neighbouring chunks differ, so a lost,
// doubled or reordered chunk shows.
std::vector<uint8_t> make_image(size_t length) {
    std::vector<uint8_t> image(length);
    for (size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>((i * 167 + i / 256 * 13 + 5) & 0xFF);
    return image;
}

Device connect(const FakeDevice& fake) {
    const auto address = SocketAddress::parse(fake.address(), fake.port());
    if (!address) throw std::runtime_error("fake device address");
    auto stream = TcpStream::connect(*address, client_timeout);
    if (!stream) throw std::runtime_error("connect: " + stream.error().describe());
    auto device = Device::create(*address, std::move(*stream), client_timeout);
    if (!device) throw std::runtime_error("create: " + device.error().debug_text());
    return std::move(*device);
}

struct Timeouts {
    Timeout read;
    Timeout write;
    friend bool operator==(const Timeouts&, const Timeouts&) = default;
};

void PrintTo(const Timeouts& t, std::ostream* os) {
    const auto show = [&](const Timeout& v) {
        if (v)
            *os << v->count() << "ns";
        else
            *os << "none";
    };
    *os << "read ";
    show(t.read);
    *os << ", write ";
    show(t.write);
}

// As the system reports them, rounded to its clock tick.
Timeouts system_timeouts_of(const TcpStream& stream) {
    const auto read = stream.read_timeout();
    const auto write = stream.write_timeout();
    if (!read || !write) throw std::runtime_error("getsockopt failed");
    return {*read, *write};
}

// What the stream set, exactly: each frame's deadline.
Timeouts limits_of(const TcpStream& stream) { return {stream.read_limit(), stream.write_limit()}; }

template <class Read>
Timeouts of_connection(const Device& device, Read read) {
    auto lock = qx_sdk_client::device::lock_connection(device.connection());
    if (!lock) throw std::runtime_error("lock: " + lock.error().debug_text());
    return read(lock->connection().stream);
}

Error mapped(qx_protocol_status_t status) {
    return qx_sdk_client::error::protocol_to_client_error(ProtocolError::protocol_status(status));
}

const Error header_read_failed(Error::Kind::TcpStreamReadError, "Failed to read packet header");

// A temporary directory removed with the test.
class ScratchDirectory {
public:
    ScratchDirectory()
        : path_(std::filesystem::temp_directory_path() /
                ("firmware_update_test." + std::to_string(::getpid()) + "." + std::to_string(counter_++))) {
        std::filesystem::create_directories(path_);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    static inline int counter_ = 0;
    std::filesystem::path path_;
};

// ---- The scenarios ---------------------------------------------------------

// Where the image comes from. Every source but Blob and File names a path
// that the update must refuse before it calls back or sends anything.
enum class Source {
    Blob,
    File,
    MissingFile,
    Directory,
    PathWithNul,
    FifoWithoutWriter,   // opening it blocking would wait for a writer for ever
    FifoWithIdleWriter,  // reading it would wait until the writer closes
    DevZero,             // reading it would never end
    EndlessRegularFile,  // reports size 0 and never ends; refused at the size limit
    FileTooLarge,        // larger than any update can send (sparse, takes no disk)
};

// The path for a source, with what must exist meanwhile.
class SourcePath {
public:
    SourcePath(Source source, const std::filesystem::path& directory, const std::vector<uint8_t>& image) {
        switch (source) {
            case Source::Blob: break;
            case Source::File:
                path_ = (directory / "image.bin").string();
                std::ofstream(path_, std::ios::binary)
                    .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
                break;
            case Source::MissingFile: path_ = (directory / "missing.bin").string(); break;
            case Source::Directory: path_ = directory.string(); break;
            case Source::PathWithNul:
                // Cut at the NUL it would name the existing directory.
                path_ = directory.string() + std::string(1, '\0') + "image.bin";
                break;
            case Source::FifoWithoutWriter:
            case Source::FifoWithIdleWriter:
                path_ = (directory / "image.fifo").string();
                EXPECT_EQ(::mkfifo(path_.c_str(), 0600), 0);
                // Read and write ends at once, so this open does not wait.
                if (source == Source::FifoWithIdleWriter) writer_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
                break;
            case Source::DevZero: path_ = "/dev/zero"; break;
            case Source::EndlessRegularFile: path_ = "/proc/self/pagemap"; break;
            case Source::FileTooLarge: {
                path_ = (directory / "huge.bin").string();
                const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
                EXPECT_EQ(::ftruncate(fd, off_t{65'536} * 4'088 + 1), 0);
                ::close(fd);
                break;
            }
        }
    }
    ~SourcePath() {
        if (writer_ >= 0) ::close(writer_);
    }
    SourcePath(const SourcePath&) = delete;
    SourcePath& operator=(const SourcePath&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
    int writer_ = -1;
};

// What a path that cannot be an image gives, before anything else happens.
std::optional<Error> file_error(Source source, const std::string& path) {
    switch (source) {
        case Source::Blob:
        case Source::File: return std::nullopt;
        case Source::MissingFile:
        case Source::PathWithNul: return Error(Error::Kind::FileOpenError, "Failed to open file " + path);
        default: return Error(Error::Kind::FileReadError, "Failed to read file " + path);
    }
}

// The process's peak resident memory, in KiB.
long peak_resident_kib() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct ScriptedFault {
    uint16_t command;
    Fault fault;
    int times = 1;
};

struct Scenario {
    const char* name;
    // The update.
    size_t image_length = 0;
    Source source = Source::Blob;
    bool reenter = false;
    // The device.
    uint16_t chunk_size = 4;
    std::optional<uint16_t> refuse_chunk = std::nullopt;
    uint16_t finalize_status = qx_test::device_status::success;
    std::vector<ScriptedFault> faults = {};
    // Expected. Progress reports are whole chunks, the last one capped at
    // the image length; the device then holds exactly those bytes.
    std::optional<Error> error = std::nullopt;  // absent: success
    bool calls_started = true;
    size_t progress_reports = 0;
    bool calls_finalizing = true;
    std::optional<FirmwareUpdateResult> result = FirmwareUpdateResult::Success;
    size_t start_requests = 1;
    size_t chunk_requests = 0;
    size_t finalize_requests = 1;
    bool connection_survives = true;  // false where the device hung up
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

std::vector<Event> expected_events(const Scenario& s) {
    std::vector<Event> events;
    if (s.calls_started) events.push_back(started(s.image_length));
    for (size_t i = 0; i < s.progress_reports; ++i) {
        events.push_back(progress(std::min<uint64_t>(uint64_t{s.chunk_size} * (i + 1), s.image_length)));
    }
    if (s.calls_finalizing) events.push_back(finalizing());
    if (s.result) events.push_back(finished(*s.result));
    return events;
}

std::vector<uint16_t> expected_commands(const Scenario& s) {
    std::vector<uint16_t> commands(s.start_requests, start_command);
    commands.insert(commands.end(), s.chunk_requests, chunk_command);
    commands.insert(commands.end(), s.finalize_requests, finalize_command);
    return commands;
}

// Up to the first difference, so a 65,536-entry mismatch stays readable.
template <class T>
void expect_same_sequence(const std::vector<T>& actual, const std::vector<T>& expected, const char* what) {
    EXPECT_EQ(actual.size(), expected.size()) << what;
    for (size_t i = 0; i < std::min(actual.size(), expected.size()); ++i) {
        if (!(actual[i] == expected[i])) {
            ADD_FAILURE() << what << " differ first at " << i << ": " << testing::PrintToString(actual[i])
                          << " instead of " << testing::PrintToString(expected[i]);
            return;
        }
    }
}

class FirmwareUpdate : public testing::TestWithParam<Scenario> {};

TEST_P(FirmwareUpdate, Scenario) {
    const Scenario& s = GetParam();
    DeviceState state;
    state.firmware.chunk_size = s.chunk_size;
    state.firmware.refuse_chunk = s.refuse_chunk;
    state.firmware.finalize_status = s.finalize_status;
    FakeDevice fake(state);
    const Device device = connect(fake);
    fake.clear_requests();
    for (const ScriptedFault& f : s.faults) fake.inject(f.command, f.fault, f.times);

    const std::vector<uint8_t> image = make_image(s.image_length);
    const Timeouts before = of_connection(device, limits_of);
    ASSERT_EQ(before, (Timeouts{client_timeout, client_timeout}));
    const Timeouts system_before = of_connection(device, system_timeouts_of);

    ScratchDirectory scratch;
    const SourcePath source(s.source, scratch.path(), image);
    const std::string& path = source.path();
    Recorder recorder(s.reenter ? &device : nullptr);
    Result<void> outcome;
    if (s.source == Source::Blob) {
        outcome = device.update_firmware_from_blob(image, recorder);
    } else {
        const long peak_before = peak_resident_kib();
        const auto start = std::chrono::steady_clock::now();
        outcome = device.update_firmware_from_path(path, recorder);
        if (file_error(s.source, path) && s.source != Source::EndlessRegularFile) {
            // Refused at once, without reading the file into memory.
            EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
            EXPECT_LT(peak_resident_kib() - peak_before, 64 * 1024);
        }
    }

    // File errors carry the path as given; set up here, where it is known.
    const std::optional<Error> expected_error = s.error ? s.error : file_error(s.source, path);
    if (expected_error) {
        ASSERT_FALSE(outcome.has_value());
        EXPECT_EQ(outcome.error().debug_text(), expected_error->debug_text());
    } else {
        EXPECT_TRUE(outcome.has_value()) << outcome.error().debug_text();
    }

    expect_same_sequence(recorder.events, expected_events(s), "callbacks");
    expect_same_sequence(fake.request_commands(), expected_commands(s), "requests");

    const qx_test::FirmwareState received = fake.state().firmware;
    if (s.calls_started) {
        EXPECT_EQ(received.announced_size, s.image_length);
    }
    const size_t acknowledged = std::min<size_t>(s.progress_reports * s.chunk_size, s.image_length);
    EXPECT_TRUE(received.image ==
                std::vector<uint8_t>(image.begin(), image.begin() + static_cast<ptrdiff_t>(acknowledged)))
        << "the device holds " << received.image.size() << " bytes, " << acknowledged << " expected";
    std::vector<uint16_t> indices(s.progress_reports);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint16_t>(i);
    expect_same_sequence(received.chunk_indices, indices, "accepted chunk indices");

    if (s.reenter) {
        EXPECT_EQ(recorder.reentries.size(), recorder.events.size());
        for (const Result<std::string>& r : recorder.reentries) {
            ASSERT_FALSE(r.has_value());
            EXPECT_EQ(r.error().kind(), Error::Kind::FailedToAquireLock);
        }
    }

    // Restored exactly, however the update ended.
    EXPECT_EQ(of_connection(device, limits_of), before);
    EXPECT_EQ(of_connection(device, system_timeouts_of), system_before);

    if (s.connection_survives) {
        // The lock is not broken and the stream is in step with the device.
        const Result<std::string> name = device.get_name();
        ASSERT_TRUE(name.has_value()) << name.error().debug_text();
        EXPECT_EQ(*name, state.name);
    }
}

// A path refused before the device is contacted or any callback called.
Scenario refused_path(const char* name, Source source) {
    return {.name = name,
            .source = source,
            .calls_started = false,
            .calls_finalizing = false,
            .result = std::nullopt,
            .start_requests = 0,
            .finalize_requests = 0};
}

const Scenario scenarios[] = {
    // Image lengths.
    {.name = "EmptyImage"},
    {.name = "OneByte", .image_length = 1, .progress_reports = 1, .chunk_requests = 1},
    {.name = "ExactlyThreeChunks", .image_length = 12, .progress_reports = 3, .chunk_requests = 3},
    {.name = "ThreeChunksAndARemainder", .image_length = 14, .progress_reports = 4, .chunk_requests = 4},
    {.name = "LargestChunkThatFits",
     .image_length = 2 * 4088 + 1,
     .chunk_size = 4088,
     .progress_reports = 3,
     .chunk_requests = 3},

    // Chunks the device does not acknowledge: finalizing goes on and decides.
    {.name = "ThirdChunkRefused", .image_length = 20, .refuse_chunk = 2, .progress_reports = 2, .chunk_requests = 3},
    {.name = "ThirdChunkRefusedAndFinalizeFails",
     .image_length = 20,
     .refuse_chunk = 2,
     .finalize_status = qx_test::device_status::operation_failed,
     .error = Error(Error::Kind::RemoteOperationFailed),
     .progress_reports = 2,
     .result = FirmwareUpdateResult::UnknownError,
     .chunk_requests = 3},
    {.name = "FirstChunkAnsweredWithErrorPacket",
     .image_length = 8,
     .faults = {{chunk_command, Fault::error_packet(qx_test::device_status::operation_not_permitted)}},
     .chunk_requests = 1},

    // The start exchange.
    {.name = "ChunkSizeZero",
     .image_length = 8,
     .chunk_size = 0,
     .error = Error(Error::Kind::ApiError, "Device is requesting a chunk size of 0, which doesn't work"),
     .calls_started = false,
     .calls_finalizing = false,
     .result = std::nullopt,
     .finalize_requests = 0},
    {.name = "StartAnsweredWithErrorPacket",
     .image_length = 8,
     .faults = {{start_command, Fault::error_packet(qx_test::device_status::operation_not_permitted)}},
     .error = mapped(QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_PERMITTED),
     .calls_started = false,
     .calls_finalizing = false,
     .result = std::nullopt,
     .finalize_requests = 0},
    {.name = "DeviceHangsUpOnStart",
     .image_length = 8,
     .faults = {{start_command, Fault::close()}},
     .error = header_read_failed,
     .calls_started = false,
     .calls_finalizing = false,
     .result = std::nullopt,
     .finalize_requests = 0,
     .connection_survives = false},

    // Chunks that cannot be packed: the typed layer's error, nothing truncated or wrapped.
    {.name = "ChunkSizeAboveBuffer",
     .image_length = 5000,
     .chunk_size = 4089,
     .error = mapped(QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL),
     .calls_finalizing = false,
     .result = std::nullopt,
     .finalize_requests = 0},
    {.name = "MoreChunksThanTheIndexCounts",
     .image_length = 65537,
     .chunk_size = 1,
     .error = mapped(QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS),
     .progress_reports = 65536,
     .calls_finalizing = false,
     .result = std::nullopt,
     .chunk_requests = 65536,
     .finalize_requests = 0},
    {.name = "DeviceHangsUpOnThirdChunk",
     .image_length = 20,
     .faults = {{chunk_command, Fault::delay_reply(0ms), 2}, {chunk_command, Fault::close()}},
     .error = header_read_failed,
     .progress_reports = 2,
     .calls_finalizing = false,
     .result = std::nullopt,
     .chunk_requests = 3,
     .finalize_requests = 0,
     .connection_survives = false},

    // The finalize reply decides.
    {.name = "FinalizeFails",
     .image_length = 6,
     .finalize_status = qx_test::device_status::operation_failed,
     .error = Error(Error::Kind::RemoteOperationFailed),
     .progress_reports = 2,
     .result = FirmwareUpdateResult::UnknownError,
     .chunk_requests = 2},
    {.name = "FinalizeAnsweredWithAnotherReply",
     .image_length = 6,
     .faults = {{finalize_command, Fault::raw(qx_test::frame(52, ByteWriter().u16(0)))}},
     .error = mapped(QX_PROTOCOL_STATUS_PROTOCOL_ERROR),
     .progress_reports = 2,
     .result = FirmwareUpdateResult::TransferError,
     .chunk_requests = 2},
    {.name = "DeviceHangsUpOnFinalize",
     .image_length = 6,
     .faults = {{finalize_command, Fault::close()}},
     .error = header_read_failed,
     .progress_reports = 2,
     .result = std::nullopt,
     .chunk_requests = 2,
     .connection_survives = false},
    // The one scenario that waits out the update's 5 s timeout.
    {.name = "FinalizeNeverAnswered",
     .image_length = 6,
     .faults = {{finalize_command, Fault::no_reply()}},
     .error = header_read_failed,
     .progress_reports = 2,
     .result = std::nullopt,
     .chunk_requests = 2},

    // Callbacks that turn to the device being updated.
    {.name = "CallbacksReenterTheDevice",
     .image_length = 10,
     .reenter = true,
     .progress_reports = 3,
     .chunk_requests = 3},

    // From a file: read whole before the device is contacted.
    {.name = "FromFile", .image_length = 10, .source = Source::File, .progress_reports = 3, .chunk_requests = 3},
    refused_path("FromMissingFile", Source::MissingFile),
    refused_path("FromDirectory", Source::Directory),
    refused_path("FromPathWithNulByte", Source::PathWithNul),
    refused_path("FromFifoWithoutWriter", Source::FifoWithoutWriter),
    refused_path("FromFifoWithIdleWriter", Source::FifoWithIdleWriter),
    refused_path("FromDevZero", Source::DevZero),
    refused_path("FromEndlessRegularFile", Source::EndlessRegularFile),
    refused_path("FromFileTooLargeForAnyUpdate", Source::FileTooLarge),
    // An empty regular file is an empty image, updated as from bytes.
    {.name = "FromEmptyFile", .image_length = 0, .source = Source::File},
};

INSTANTIATE_TEST_SUITE_P(AgainstFakeDevice, FirmwareUpdate, testing::ValuesIn(scenarios),
                         [](const testing::TestParamInfo<Scenario>& param_info) { return param_info.param.name; });

// A thread blocked in open(O_WRONLY) on a FIFO until a reader opens it.
class WriterWaitingInOpen {
public:
    explicit WriterWaitingInOpen(std::string path) : path_(std::move(path)) {
        if (::mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
        thread_ = std::thread([this] {
            tid_ = ::gettid();
            const int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
            opened_ = true;
            if (fd >= 0) ::close(fd);
        });
        // Until the system shows it inside openat, so that a release could not go unseen.
        for (int i = 0; i < 500 && !in_open(); ++i) std::this_thread::sleep_for(10ms);
        if (!in_open()) ADD_FAILURE() << "the writer did not get into open";
    }
    // Opening the read end is what releases the writer; it cannot wait itself.
    ~WriterWaitingInOpen() {
        const int reader = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        thread_.join();
        if (reader >= 0) ::close(reader);
    }
    WriterWaitingInOpen(const WriterWaitingInOpen&) = delete;
    WriterWaitingInOpen& operator=(const WriterWaitingInOpen&) = delete;

    const std::string& path() const { return path_; }
    bool opened() const { return opened_; }

private:
    bool in_open() const {
        const pid_t tid = tid_;
        if (tid == 0 || opened_) return false;
        std::ifstream syscall("/proc/self/task/" + std::to_string(tid) + "/syscall");
        long number = -1;
        return syscall >> number && number == SYS_openat;
    }

    std::string path_;
    std::atomic<pid_t> tid_ = 0;
    std::atomic<bool> opened_ = false;
    std::thread thread_;
};

TEST(FirmwareUpdateFromFifo, LeavesAWriterWaitingInOpenWaiting) {
    FakeDevice fake;
    const Device device = connect(fake);
    fake.clear_requests();
    ScratchDirectory scratch;
    const WriterWaitingInOpen writer((scratch.path() / "image.fifo").string());

    Recorder recorder;
    const Result<void> outcome = device.update_firmware_from_path(writer.path(), recorder);

    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error(), Error(Error::Kind::FileReadError, "Failed to read file " + writer.path()));
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(fake.request_count(), 0u);
    // A writer released by a reader's open returns from open at once.
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(writer.opened()) << "the update opened the FIFO for reading";
}

// A callback that throws abandons the update: the lock is marked broken,
// yet the timeouts were put back while it was still held.
TEST(FirmwareUpdateAbandoned, LeavesTheLockBrokenAndTheTimeoutsRestored) {
    struct Throwing : Recorder {
        void report_progress(uint64_t) const override { throw std::runtime_error("callback failed"); }
    };
    FakeDevice fake;
    const Device device = connect(fake);
    // A second descriptor of the same socket: once the lock is broken the
    // connection's own stream can no longer be reached.
    const TcpStream same_socket = [&] {
        auto lock = qx_sdk_client::device::lock_connection(device.connection());
        if (!lock) throw std::runtime_error("lock: " + lock.error().debug_text());
        return TcpStream::from_fd(::dup(lock->connection().stream.fd()));
    }();
    const Timeouts before = system_timeouts_of(same_socket);
    const std::vector<uint8_t> image = make_image(8);

    EXPECT_THROW((void)device.update_firmware_from_blob(image, Throwing()), std::runtime_error);
    EXPECT_EQ(system_timeouts_of(same_socket), (Timeouts{before.read, before.read}));
    fake.clear_requests();

    Recorder recorder;
    const Result<void> again = device.update_firmware_from_blob(image, recorder);
    ASSERT_FALSE(again.has_value());
    EXPECT_EQ(again.error().kind(), Error::Kind::FailedToAquireLock);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(fake.request_count(), 0u);
}

// ---- The timeout guard on its own ------------------------------------------

class SocketPair {
public:
    SocketPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) throw std::runtime_error("socketpair");
        ours = TcpStream::from_fd(fds[0]);
        peer_ = fds[1];
    }
    ~SocketPair() { ::close(peer_); }
    TcpStream ours = TcpStream::from_fd(-1);

private:
    int peer_ = -1;
};

// Put back as the stream set them, not as the system rounded them (1.337 s
// would come back as 1.340 s), from the read timeout alone.
TEST(TimeoutOverride, RaisesBothAndRestoresBothExactlyFromTheReadTimeout) {
    struct Case {
        const char* label;
        Timeout read_before;
        Timeout write_before;
    };
    const Case cases[] = {
        {"the client's", client_timeout, client_timeout},
        {"none", std::nullopt, std::nullopt},  // restored as no limit
        {"write follows read", client_timeout, std::nullopt},
        // The system's figure lies beyond what nanoseconds hold.
        {"enormous", std::chrono::nanoseconds::max(), std::chrono::nanoseconds::max()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SocketPair pair;
        ASSERT_TRUE(pair.ours.set_read_timeout(c.read_before).has_value());
        ASSERT_TRUE(pair.ours.set_write_timeout(c.write_before).has_value());
        const Timeout system_read_before = system_timeouts_of(pair.ours).read;
        {
            auto guard = TcpStreamWithTemporaryTcpTimeoutOverride::create(pair.ours, FIRMWARE_UPDATE_TIMEOUT);
            ASSERT_TRUE(guard.has_value()) << guard.error().debug_text();
            const Timeout raised = std::chrono::nanoseconds(FIRMWARE_UPDATE_TIMEOUT);
            EXPECT_EQ(limits_of(pair.ours), (Timeouts{raised, raised}));
            EXPECT_EQ(system_timeouts_of(pair.ours), (Timeouts{raised, raised}));
            // Moving the guard must not restore early, nor twice.
            auto moved = std::move(*guard);
            EXPECT_EQ(limits_of(pair.ours), (Timeouts{raised, raised}));
        }
        EXPECT_EQ(limits_of(pair.ours), (Timeouts{c.read_before, c.read_before}));
        EXPECT_EQ(system_timeouts_of(pair.ours), (Timeouts{system_read_before, system_read_before}));
    }
}

TEST(TimeoutOverride, FailsOnAStreamThatCannotTakeATimeout) {
    TcpStream closed = TcpStream::from_fd(-1);
    const auto guard = TcpStreamWithTemporaryTcpTimeoutOverride::create(closed, FIRMWARE_UPDATE_TIMEOUT);
    ASSERT_FALSE(guard.has_value());
    EXPECT_EQ(guard.error(), Error(Error::Kind::TcpStreamReadError, "Failed to set tcp stream timeout"));
}

}  // namespace
