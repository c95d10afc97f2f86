#include "fieldtrip/protocol.h"

#include <cmath>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fieldtrip/client.h"

namespace Korva::FieldTrip {
namespace {

using ::testing::HasSubstr;

// Bytes written out by hand, as the protocol lays them out.
std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

TEST(Protocol, ReadsHandWrittenPacketsInEitherByteOrder) {
  // GET_OK of 4 bytes: little-endian, then big-endian.
  const Head le = DecodeHead(Bytes({1, 0, 4, 2, 4, 0, 0, 0}).data());
  const Head be = DecodeHead(Bytes({0, 1, 2, 4, 0, 0, 0, 4}).data());
  for (const Head& h : {le, be}) {
    EXPECT_EQ(h.command, kGetOk);
    EXPECT_EQ(h.size, 4u);
  }
  EXPECT_TRUE(be.bigEndian);
  EXPECT_FALSE(le.bigEndian);
  // Two channels, one sample of int16, big-endian: 258 and -2.
  std::uint32_t samples = 0;
  EXPECT_EQ(DecodeData(Bytes({0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 6, 0, 0, 0, 4,
                              1, 2, 0xFF, 0xFE}),
                       true, 2, samples),
            (std::vector<double>{258, -2}));
  // An event of type "ab" and int32 value 7 (little-endian), one padding byte.
  const auto events = DecodeEvents(
      Bytes({0, 0, 0, 0, 2, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0, 0, 0,
             0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 'a', 'b', 7, 0, 0, 0, 0}),
      false);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, "ab");
  EXPECT_EQ(events[0].value, "7");
  EXPECT_EQ(events[0].sample, 5);
  EXPECT_TRUE(events[0].valueNumber);
}

TEST(Protocol, DataOfEveryTypeReadsBackInBothByteOrders) {
  const std::vector<double> rows = {0, 1, 100, 7, 3, 12};
  for (std::uint32_t t = 1; t <= 10; ++t)
    for (bool big : {false, true}) {
      std::uint32_t samples = 0;
      EXPECT_EQ(DecodeData(EncodeData(rows, 3, Type(t), big), big, 3, samples),
                rows)
          << TypeName(t) << (big ? " big-endian" : "");
      EXPECT_EQ(samples, 2u);
    }
}

TEST(Protocol, HeaderAndEventsReadBack) {
  Header h{3, 10, 2, 2048, 9, {"Fz", "Cz", "Pz"}};
  const Header back = DecodeHeader(EncodeHeader(h, true), true);
  EXPECT_EQ(back.names, h.names);
  EXPECT_EQ(back.rate, 2048);
  EXPECT_EQ(back.samples, 10u);
  Event text{"Stimulus", "S  2", 7, 0, 0, false, 0};
  Event number{"korva", "", -3, 0, 1, true, -0.25};
  const auto events = DecodeEvents(EncodeEvents({text, number}), false);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].value, "S  2");
  EXPECT_EQ(events[1].value, "-0.25");
  EXPECT_EQ(events[1].sample, -3);
  EXPECT_EQ(events[1].number, -0.25);
}

struct BadPacket {
  const char* name;
  std::string (*payload)();
  int decoder;  // 0 header, 1 data of 2 channels, 2 events, 3 wait reply
  const char* message;
};

const BadPacket kBadPackets[] = {
    {"header_short", [] { return Bytes({1, 0, 0, 0}); }, 0, "the header ends after 4 of the 8 bytes"},
    {"header_chunks_disagree", [] { return EncodeHeader({1, 0, 0, 256, 9, {"Fz"}}).substr(0, 30); }, 0, "the header declares 11 bytes of chunks and holds 6"},
    {"header_names_missing", [] { Header h{2, 0, 0, 256, 9, {"Fz", "Cz"}}; std::string p = EncodeHeader(h); p.back() = 'x'; return p; }, 0, "holds 1 NUL-ended names for 2 channels"},
    {"header_type_unknown", [] { return EncodeHeader({1, 0, 0, 256, 11, {}}); }, 0, "the header has data type 11, which the protocol does not define"},
    {"data_not_finite", [] { return EncodeData({1, 2, 3, std::nan("")}, 2, Type::kFloat32, false); }, 1, "the data holds nan in row 2, channel 2 of the reply; samples must be finite numbers"},
    {"data_other_channels", [] { return EncodeData({1, 2, 3}, 3, Type::kFloat32); }, 1, "the data has 3 channels; the header 2"},
    {"data_type_unknown", [] { return EncodeWords({2, 1, 11, 8}) + std::string(8, '\0'); }, 1, "data type 11, which the protocol does not define"},
    {"data_of_chars", [] { return EncodeWords({2, 1, 0, 2}) + "ab"; }, 1, "of type char, not numbers"},
    {"data_short", [] { return EncodeData({1, 2, 3, 4}, 2, Type::kFloat64).substr(0, 30); }, 1, "declares 2 samples of 2 float64 values (32 bytes) in 32 bytes and holds 14"},
    {"data_size_lies", [] { return EncodeWords({2, 1, 9, 4}) + std::string(4, '\0'); }, 1, "(8 bytes) in 4 bytes"},
    {"event_short", [] { return EncodeEvents({{"a", "b", 0, 0, 0, false, 0}}).substr(0, 20); }, 2, "an event ends after 20 of the 24 bytes"},
    {"event_body_too_small", [] { return EncodeWords({0, 5, 0, 1, 0, 0, 0, 2}) + "ab"; }, 2, "event 0 declares 2 bytes for a type and value of 6"},
    {"event_type_unknown", [] { return EncodeWords({12, 1, 0, 1, 0, 0, 0, 2}) + "ab"; }, 2, "an event's type has data type 12"},
    {"wait_reply_short", [] { return EncodeWords({1}); }, 3, "the reply to WAIT_DAT of 4 bytes, not 8"},
};

class Malformed : public ::testing::TestWithParam<BadPacket> {};

TEST_P(Malformed, IsRefusedSayingWhat) {
  const BadPacket& p = GetParam();
  const std::string payload = p.payload();
  std::uint32_t samples = 0;
  try {
    if (p.decoder == 0) DecodeHeader(payload, false);
    if (p.decoder == 1) DecodeData(payload, false, 2, samples);
    if (p.decoder == 2) DecodeEvents(payload, false);
    if (p.decoder == 3)
      DecodeWords(payload, false, 2, "the reply to WAIT_DAT");
    FAIL() << "accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::kMalformed);
    EXPECT_THAT(e.what(), HasSubstr(p.message));
  }
}

INSTANTIATE_TEST_SUITE_P(Packets, Malformed, ::testing::ValuesIn(kBadPackets),
                         [](const auto& info) { return info.param.name; });

TEST(Protocol, RefusesHeadsOfAnotherVersionOrSize) {
  EXPECT_THROW(DecodeHead(Bytes({2, 0, 4, 2, 0, 0, 0, 0}).data()), Error);
  EXPECT_THROW(DecodeHead(Bytes({1, 0, 4, 2, 0, 0, 0, 0x41}).data()), Error);
}

TEST(Address, ReadsHostAndPort) {
  struct Row {
    const char* text;
    const char* host;
    int port;
  };
  for (const Row& r : {Row{"ft://localhost:1972", "localhost", 1972},
                       Row{"ft://[::1]:80", "::1", 80},
                       Row{"ft://10.0.0.2:65535", "10.0.0.2", 65535}}) {
    const auto a = ParseAddress(r.text);
    ASSERT_TRUE(a) << r.text;
    EXPECT_EQ(a->host, r.host);
    EXPECT_EQ(a->port, r.port);
  }
  for (const char* bad : {"localhost:1972", "ft://host", "ft://:1972",
                          "ft://host:0", "ft://host:70000", "ft://host:x"})
    EXPECT_FALSE(ParseAddress(bad)) << bad;
}

}  // namespace
}  // namespace Korva::FieldTrip
