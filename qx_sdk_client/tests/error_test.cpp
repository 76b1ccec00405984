#include "qx_sdk_client/src/error.hpp"

#include <unistd.h>
#include <cstdio>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "qx_sdk_client/src/util.hpp"

namespace {

using qx_sdk_client::error::Error;
using qx_sdk_client::error::protocol_to_client_error;
using qx_sdk_client::error::service_status_to_result;
using qx_sdk_protocol::ProtocolError;
using qx_sdk_protocol::types::ServiceStatus;
using Kind = Error::Kind;

// Runs `body` with file descriptor 1 redirected to a temporary file and
// returns what was written there.
template <class Body>
std::string capture_fd1(Body body) {
    std::fflush(stdout);
    std::FILE* sink = std::tmpfile();
    EXPECT_NE(sink, nullptr);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(sink), STDOUT_FILENO);
    body();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::string written;
    std::rewind(sink);
    for (int c; (c = std::fgetc(sink)) != EOF;) {
        written.push_back(static_cast<char>(c));
    }
    std::fclose(sink);
    return written;
}

TEST(ErrorKinds, NamesAndTextsFollowDeclarationOrder) {
    const struct {
        Kind kind;
        const char* name;
        bool has_text;
    } rows[] = {
        {Kind::ApiError, "ApiError", true},
        {Kind::ApiNotAvailableInProtocolVersion, "ApiNotAvailableInProtocolVersion", false},
        {Kind::ClientSoftwareTooOldForDevice, "ClientSoftwareTooOldForDevice", false},
        {Kind::ConnectionError, "ConnectionError", false},
        {Kind::DeviceDiscoveryError, "DeviceDiscoveryError", true},
        {Kind::FailedToAquireLock, "FailedToAquireLock", false},
        {Kind::FileOpenError, "FileOpenError", true},
        {Kind::FileReadError, "FileReadError", true},
        {Kind::NetworkError, "NetworkError", false},
        {Kind::NotImplemented, "NotImplemented", false},
        {Kind::RemoteOperationFailed, "RemoteOperationFailed", false},
        {Kind::RemoteOperationNotPermitted, "RemoteOperationNotPermitted", false},
        {Kind::RemoteOperationNotSupportedByDevice, "RemoteOperationNotSupportedByDevice", false},
        {Kind::RemoteOperationNotSupportedByInterface, "RemoteOperationNotSupportedByInterface", false},
        {Kind::TcpStreamWriteError, "TcpStreamWriteError", true},
        {Kind::TcpStreamReadError, "TcpStreamReadError", true},
        {Kind::Utf8Error, "Utf8Error", true},
    };
    ASSERT_EQ(std::size(rows), static_cast<size_t>(Error::kind_count));
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(static_cast<size_t>(rows[i].kind), i);
        EXPECT_EQ(Error::kind_name(rows[i].kind), rows[i].name);
        EXPECT_EQ(Error::kind_has_text(rows[i].kind), rows[i].has_text);
        // A kind without a text shows its name alone, even if handed a text.
        const Error error(rows[i].kind, "x");
        EXPECT_EQ(error.debug_text(), rows[i].has_text ? std::string(rows[i].name) + "(\"x\")" : rows[i].name);
    }
}

TEST(ErrorKinds, TextIsDroppedForKindsWithoutOne) {
    EXPECT_EQ(Error(Kind::NetworkError, "ignored"), Error(Kind::NetworkError));
    EXPECT_TRUE(Error(Kind::NetworkError, "ignored").text().empty());
    EXPECT_EQ(Error(Kind::ApiError, "kept").text(), "kept");
}

struct QuotedCase {
    const char* label;
    std::string text;
    std::string debug_text;
};

class DebugText : public testing::TestWithParam<QuotedCase> {};

TEST_P(DebugText, EscapesTheText) {
    const QuotedCase& c = GetParam();
    EXPECT_EQ(Error(Kind::Utf8Error, c.text).debug_text(), c.debug_text);

    // The sink variant appends and keeps what was there.
    std::string sink = "prefix:";
    Error(Kind::Utf8Error, c.text).write_debug_text(sink);
    EXPECT_EQ(sink, "prefix:" + c.debug_text);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Cases, DebugText,
    testing::Values(
        QuotedCase{"empty", "", R"(Utf8Error(""))"},
        QuotedCase{"plain", "Failed to read packet header", R"(Utf8Error("Failed to read packet header"))"},
        QuotedCase{"double_quote", "say \"hi\"", R"(Utf8Error("say \"hi\""))"},
        QuotedCase{"single_quote_kept", "it's", R"(Utf8Error("it's"))"},
        QuotedCase{"backslash", R"(a\b)", R"(Utf8Error("a\\b"))"},
        QuotedCase{"tab_cr_lf", "a\tb\rc\nd", R"(Utf8Error("a\tb\rc\nd"))"},
        QuotedCase{"nul", std::string("a\0b", 3), R"(Utf8Error("a\0b"))"},
        QuotedCase{"escape_char", "\x1b[0m", R"(Utf8Error("\u{1b}[0m"))"},
        QuotedCase{"delete_char", "\x7f", R"(Utf8Error("\u{7f}"))"},
        QuotedCase{"plain_space_kept", "a b", R"(Utf8Error("a b"))"},
        QuotedCase{"no_break_space", "a\u00a0b", R"(Utf8Error("a\u{a0}b"))"},
        QuotedCase{"line_separator", "\u2028", R"(Utf8Error("\u{2028}"))"},
        QuotedCase{"combining_acute", "e\u0301", R"(Utf8Error("e\u{301}"))"},
        QuotedCase{"enclosing_mark", "\u20dd", R"(Utf8Error("\u{20dd}"))"},
        QuotedCase{"zero_width_space", "a\u200bb", R"(Utf8Error("a\u{200b}b"))"},
        QuotedCase{"zero_width_non_joiner", "\u200c", R"(Utf8Error("\u{200c}"))"},
        QuotedCase{"soft_hyphen", "\u00ad", R"(Utf8Error("\u{ad}"))"},
        QuotedCase{"private_use", "\ue000", R"(Utf8Error("\u{e000}"))"},
        QuotedCase{"unassigned", "\u0378", R"(Utf8Error("\u{378}"))"},
        QuotedCase{"halfwidth_voiced_mark", "\uff9e", R"(Utf8Error("\u{ff9e}"))"},
        QuotedCase{"spacing_mark_extending", "\u09be", R"(Utf8Error("\u{9be}"))"},
        QuotedCase{"non_ascii_letters_kept", "Gr\u00fc\u00dfe \u65e5\u672c", "Utf8Error(\"Gr\u00fc\u00dfe \u65e5\u672c\")"},
        QuotedCase{"emoji_and_modifier_kept", "\U0001F44D\U0001F3FD", "Utf8Error(\"\U0001F44D\U0001F3FD\")"},
        QuotedCase{"supplementary_private_use", "\U000F0000", R"(Utf8Error("\u{f0000}"))"},
        QuotedCase{"replacement_char_kept", "\ufffd", "Utf8Error(\"\ufffd\")"},
        // Invalid UTF-8: every stray byte becomes an escaped replacement character.
        QuotedCase{"lone_continuation", "a\x80z", R"(Utf8Error("a\u{fffd}z"))"},
        QuotedCase{"overlong", "\xc0\x80", R"(Utf8Error("\u{fffd}\u{fffd}"))"},
        QuotedCase{"surrogate", "\xed\xa0\x80", R"(Utf8Error("\u{fffd}\u{fffd}\u{fffd}"))"},
        QuotedCase{"above_max", "\xf4\x90\x80\x80", R"(Utf8Error("\u{fffd}\u{fffd}\u{fffd}\u{fffd}"))"},
        QuotedCase{"truncated_at_end", "ok\xe2\x82", R"(Utf8Error("ok\u{fffd}\u{fffd}"))"}),
    [](const testing::TestParamInfo<QuotedCase>& param_info) { return param_info.param.label; });
// clang-format on

TEST(ServiceStatusMapping, TryFromAndToResult) {
    const struct {
        ServiceStatus status;
        Error expected;
    } rows[] = {
        {ServiceStatus::not_yet_mapped("ServiceStatus mapping for X not yet implemented"),
         Error(Kind::RemoteOperationNotSupportedByDevice)},
        {ServiceStatus(ServiceStatus::Kind::OperationNotPermitted), Error(Kind::RemoteOperationNotPermitted)},
        {ServiceStatus(ServiceStatus::Kind::OperationNotSupportedByInterface),
         Error(Kind::RemoteOperationNotSupportedByInterface)},
        {ServiceStatus(ServiceStatus::Kind::OperationNotSupportedByDevice),
         Error(Kind::RemoteOperationNotSupportedByDevice)},
        {ServiceStatus(ServiceStatus::Kind::OperationFailed), Error(Kind::RemoteOperationFailed)},
        {ServiceStatus(ServiceStatus::Kind::UnspecifiedError),
         Error(Kind::ApiError, "Encountered an unspecified error")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected.debug_text());
        const auto converted = Error::try_from(row.status);
        ASSERT_TRUE(converted.has_value());
        EXPECT_EQ(*converted, row.expected);

        const auto result = service_status_to_result(row.status);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), row.expected);

        EXPECT_EQ(protocol_to_client_error(ProtocolError::service_status(row.status)), row.expected);
    }
    EXPECT_EQ(Error(Kind::ApiError, "Encountered an unspecified error").debug_text(),
              R"(ApiError("Encountered an unspecified error"))");
}

TEST(ServiceStatusMapping, SuccessIsRefusedByTryFromButIsTheResultOfTheProtocolMapping) {
    const Error success_error(Kind::ApiError, "Trying to convert Success to an error");

    const auto converted = Error::try_from(ServiceStatus());
    ASSERT_FALSE(converted.has_value());
    EXPECT_EQ(converted.error(), success_error);

    EXPECT_TRUE(service_status_to_result(ServiceStatus()).has_value());
    EXPECT_EQ(protocol_to_client_error(ProtocolError::service_status(ServiceStatus())), success_error);
}

TEST(ProtocolErrorMapping, EveryKind) {
    const struct {
        const char* label;
        ProtocolError error;
        Error expected;
    } rows[] = {
        {"not_available", ProtocolError::not_available_in_protocol_version(),
         Error(Kind::ApiNotAvailableInProtocolVersion)},
        {"invalid_version", ProtocolError::invalid_protocol_version(7),
         Error(Kind::ApiError, "Invalid protocol version 7")},
        {"invalid_version_max", ProtocolError::invalid_protocol_version(4294967295u),
         Error(Kind::ApiError, "Invalid protocol version 4294967295")},
        {"chunk_rejected", ProtocolError::chunk_rejected(), Error(Kind::NotImplemented)},
        {"buffer_too_small", ProtocolError::protocol_status(QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL),
         Error(Kind::ApiError, "An error ocurred in the protocol \"QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL\"")},
        {"invalid_pointer", ProtocolError::protocol_status(QX_PROTOCOL_INVALID_POINTER),
         Error(Kind::ApiError, "An error ocurred in the protocol \"QX_PROTOCOL_INVALID_POINTER\"")},
        {"device_failure", ProtocolError::protocol_status(QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_FAILED),
         Error(Kind::ApiError,
               "An error ocurred in the protocol \"QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_FAILED\"")},
        {"reserved_status", ProtocolError::protocol_status(static_cast<qx_protocol_status_t>(1000)),
         Error(Kind::ApiError, "An error ocurred in the protocol \"QX_PROTOCOL_STATUS_RESERVED\"")},
        {"unfamiliar_version", ProtocolError::unfamiliar_protocol_version(),
         Error(Kind::ClientSoftwareTooOldForDevice)},
        {"string_conversion", ProtocolError::string_conversion("bad \"text\"\n"),
         Error(Kind::Utf8Error, "bad \"text\"\n")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::string printed = capture_fd1([&] { EXPECT_EQ(protocol_to_client_error(row.error), row.expected); });
        EXPECT_EQ(printed, "");
    }
}

TEST(ProtocolErrorMapping, ConversionErrorPrintsOneQuotedLineAndDropsTheText) {
    const std::string printed = capture_fd1([] {
        const Error error = protocol_to_client_error(ProtocolError::conversion_error("Missing \"valid\" speed\n"));
        EXPECT_EQ(error, Error(Kind::NotImplemented));
        EXPECT_TRUE(error.text().empty());
    });
    EXPECT_EQ(printed, "Conversion error not implemented, \"Missing \\\"valid\\\" speed\\n\"\n");

    // Once per mapping.
    const std::string twice = capture_fd1([] {
        protocol_to_client_error(ProtocolError::conversion_error("a"));
        protocol_to_client_error(ProtocolError::conversion_error("b"));
    });
    EXPECT_EQ(twice, "Conversion error not implemented, \"a\"\nConversion error not implemented, \"b\"\n");
}

TEST(ProtocolErrorMapping, ConversionErrorWithStdoutClosedStillMaps) {
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::close(STDOUT_FILENO);
    const Error error = protocol_to_client_error(ProtocolError::conversion_error("lost"));
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    EXPECT_EQ(error, Error(Kind::NotImplemented));
}

TEST(FormatEan, Table) {
    const struct {
        uint64_t ean;
        const char* text;
    } rows[] = {
        {0, "00-00000-00000-0"},
        {0x1234567890123, "12-34567-89012-3"},
        {0x4006381333931, "40-06381-33393-1"},
        {15, "00-00000-00000-15"},
        {0xFF00000000000000, "00-00000-00000-0"},
        {0x00FFF00000000000, "fff-00000-00000-0"},
        {0x0010000000000000, "100-00000-00000-0"},
        {0x00000ABCDEF12345, "00-abcde-f1234-5"},
        {0xFFFFFFFFFFFFFFFF, "fff-fffff-fffff-15"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(qx_sdk_client::util::format_ean(row.ean), row.text) << std::hex << row.ean;
    }
}

}  // namespace
