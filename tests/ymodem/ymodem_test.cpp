// YMODEM on the simulated board against a host peer written here, so that
// the line between them can corrupt, drop or repeat a byte anywhere.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "storage/microsd.h"
#include "storage/ymodem.h"
#include "storage_support.h"

namespace {

using storage_test::host;
using storage_test::mtype;

constexpr uint8_t SOH = 1, STX = 2, EOT = 4, ACK = 6, NAK = 0x15, CAN = 0x18;

uint16_t ref_crc(const uint8_t *p, size_t n) {
  uint16_t c = 0;
  for (size_t i = 0; i < n; i++) {
    c ^= (uint16_t)(p[i] << 8);
    for (int b = 0; b < 8; b++) c = (c & 0x8000) ? (uint16_t)((c << 1) ^ 0x1021) : (uint16_t)(c << 1);
  }
  return c;
}

std::string pattern(size_t n, unsigned seed) {
  std::string s(n, 0);
  for (size_t i = 0; i < n; i++) {
    seed = seed * 1103515245u + 12345u;
    s[i] = (char)(seed >> 16);
  }
  return s;
}

// One fault on the line, counted in bytes of one direction.
struct Fault {
  enum Kind { kNone, kCorrupt, kDrop, kRepeat } kind = kNone;
  bool to_logger = true;
  long at = 0;
};

// The host end of the console line. Either sends a batch to the logger's
// receiver or receives what the logger's sender sends.
class Peer {
 public:
  Fault fault;
  // Sender side.
  std::vector<std::pair<std::string, std::string>> files;
  long stop_after_blocks = -1;  // goes silent after this many data blocks
  std::string announced_size;   // overrides the size in block 0
  // Receiver side.
  bool nak_everything = false;
  std::vector<std::pair<std::string, std::string>> got;  // name, data (trimmed)
  std::vector<std::string> packets;  // "S0", "X1": SOH/STX and block number
  std::string raw_tail;              // bytes that were no packet
  int cans = 0;
  bool batch_ended = false;

  explicit Peer(bool sending) : sending_(sending) {
    sim::console_output_hook([](uint8_t b, void *ctx) { static_cast<Peer *>(ctx)->from_line(b); },
                             this);
    slot_ = sim::event_slot(tick, nullptr, "ymodem-peer");
    self_ = this;
    if (!sending_) sim::event_at(slot_, sim::now() + 3 * sim::kSec);
  }
  ~Peer() {
    sim::event_cancel(slot_);
    sim::console_output_hook(nullptr, nullptr);
    self_ = nullptr;
  }
  std::string console;  // everything the logger printed, CR LF as LF

 private:
  bool sending_;
  int slot_;
  static Peer *self_;
  long n_out = 0, n_in = 0;
  // Sender state.
  enum { kWaitC, kWaitAck0, kWaitData, kWaitAck, kWaitEotAck, kDone } st_ = kWaitC;
  size_t file_ = 0;
  size_t offset_ = 0;
  int block_ = 0;
  long blocks_sent_ = 0;
  std::string last_;
  // Receiver state.
  std::string pkt_;
  size_t want_ = 0;
  size_t size_ = 0;

  // The receiver asks for the transfer with C until something comes; the
  // sender repeats its last packet when no answer came, as sb does.
  static void tick(void *) {
    Peer *p = self_;
    if (!p) return;
    if (p->sending_) {
      if (p->st_ != kDone && p->st_ != kWaitC) p->put(p->last_);
      return;
    }
    if (!p->packets.empty()) return;
    p->put("C");
    sim::event_at(p->slot_, sim::now() + 3 * sim::kSec);
  }

  void put(const std::string &bytes) {
    std::string line;
    for (char c : bytes) {
      long i = n_out++;
      if (fault.to_logger && i == fault.at) {
        if (fault.kind == Fault::kCorrupt) c ^= 0x20;
        if (fault.kind == Fault::kDrop) continue;
        if (fault.kind == Fault::kRepeat) line += c;
      }
      line += c;
    }
    sim::console_type(reinterpret_cast<const uint8_t *>(line.data()), line.size());
    if (sending_) sim::event_at(slot_, sim::now() + 5 * sim::kSec);
  }

  void from_line(uint8_t b) {
    if (b == '\n' && !console.empty() && console.back() == '\r') console.back() = '\n';
    else console += (char)b;
    long i = n_in++;
    if (!fault.to_logger && i == fault.at) {
      if (fault.kind == Fault::kCorrupt) b ^= 0x20;
      if (fault.kind == Fault::kDrop) return;
      if (fault.kind == Fault::kRepeat) take(b);
    }
    take(b);
  }

  void take(uint8_t b) { sending_ ? as_sender(b) : as_receiver(b); }

  std::string packet(int no, const std::string &data, size_t len) {
    std::string d = data;
    d.resize(len, no == 0 ? 0 : 0x1A);
    uint16_t c = ref_crc(reinterpret_cast<const uint8_t *>(d.data()), d.size());
    std::string p;
    p += (char)(len == 128 ? SOH : STX);
    p += (char)(no & 0xFF);
    p += (char)(0xFF - (no & 0xFF));
    return p + d + (char)(c >> 8) + (char)(c & 0xFF);
  }

  void send_block0() {
    std::string d;
    if (file_ < files.size()) {
      const auto &f = files[file_];
      std::string size = announced_size.empty() ? std::to_string(f.second.size()) : announced_size;
      d = f.first + '\0' + size + " 14755143061 100644";
    }
    last_ = packet(0, d, 128);
    put(last_);
  }

  void send_next() {
    const std::string &data = files[file_].second;
    if (offset_ >= data.size()) {
      last_ = std::string(1, (char)EOT);
      st_ = kWaitEotAck;
      put(last_);
      return;
    }
    if (stop_after_blocks >= 0 && blocks_sent_ >= stop_after_blocks) {
      st_ = kDone;
      return;
    }
    std::string chunk = data.substr(offset_, 1024);
    last_ = packet(++block_, chunk, chunk.size() <= 128 ? 128 : 1024);
    offset_ += chunk.size();
    blocks_sent_++;
    st_ = kWaitAck;
    put(last_);
  }

  void as_sender(uint8_t b) {
    switch (st_) {
      case kWaitC:
        if (b == 'C') {
          send_block0();
          st_ = kWaitAck0;
        }
        break;
      case kWaitAck0:
        if (b == ACK) {
          if (file_ >= files.size()) {
            st_ = kDone;
            batch_ended = true;
          } else {
            st_ = kWaitData;
          }
        } else if (b == NAK) {
          put(last_);
        }
        break;
      case kWaitData:
        if (b == 'C') {
          offset_ = 0;
          block_ = 0;
          send_next();
        }
        break;
      case kWaitAck:
        if (b == ACK) send_next();
        else if (b == NAK) put(last_);
        break;
      case kWaitEotAck:
        if (b == ACK) {
          file_++;
          st_ = kWaitC;
        } else if (b == NAK) {
          put(last_);
        }
        break;
      case kDone:
        break;
    }
  }

  void as_receiver(uint8_t b) {
    if (pkt_.empty()) {
      if (b == SOH || b == STX) {
        want_ = (b == SOH ? 128 : 1024) + 5;
        pkt_ += (char)b;
      } else if (b == EOT) {
        packets.push_back("EOT");
        put(std::string(1, (char)ACK) + "C");
      } else {
        if (b == CAN) cans++;
        raw_tail += (char)b;
      }
      return;
    }
    pkt_ += (char)b;
    if (pkt_.size() < want_) return;
    std::string p = pkt_;
    pkt_.clear();
    const uint8_t *u = reinterpret_cast<const uint8_t *>(p.data());
    size_t len = p.size() - 5;
    if (u[1] + u[2] != 0xFF || ref_crc(u + 3, len + 2) != 0) {
      put(std::string(1, (char)NAK));
      return;
    }
    packets.push_back(std::string(u[0] == SOH ? "S" : "X") + std::to_string(u[1]));
    if (nak_everything && u[1] != 0) {
      put(std::string(1, (char)NAK));
      return;
    }
    if (u[1] == 0 && (got.empty() || got.back().second.size() >= size_)) {
      if (u[3] == 0) {
        batch_ended = true;
        put(std::string(1, (char)ACK));
        return;
      }
      std::string name(reinterpret_cast<const char *>(u + 3));
      size_ = strtoul(reinterpret_cast<const char *>(u + 3 + name.size() + 1), nullptr, 10);
      got.push_back({name, ""});
      put(std::string(1, (char)ACK) + "C");
      return;
    }
    std::string &d = got.back().second;
    d.append(p, 3, std::min(len, size_ - d.size()));
    put(std::string(1, (char)ACK));
  }
};

Peer *Peer::self_ = nullptr;

class Ymodem : public storage_test::CardTest {
 protected:
  void SetUp() override {
    boot();
    dbg_flag = 0;
    // The shell has read its command line; echo is on as at the prompt.
    UARTEchoSet(true);
  }
  int ys(std::vector<std::string> names) {
    std::vector<char *> argv{const_cast<char *>("ys")};
    for (auto &n : names) argv.push_back(n.data());
    argv.push_back(nullptr);
    int r = ymodem_send((int)names.size() + 1, argv.data());
    wait_consoleTx();
    board().run_for(0.01);
    return r;
  }
  void yr() {
    char *argv[] = {const_cast<char *>("yr"), nullptr};
    EXPECT_EQ(ymodem_receive(1, argv), 0);
    wait_consoleTx();
    board().run_for(0.01);
  }
  // What the card holds under a name, read back by mtools.
  std::string card(const std::string &name) { return mtype(image(), "/" + name); }
};

TEST(YmodemCrc, CheckValueAndResidue) {
  const unsigned char text[] = "123456789";
  EXPECT_EQ(crc16(text, 9), 0x31C3);
  unsigned char with_crc[11];
  memcpy(with_crc, text, 9);
  with_crc[9] = 0x31;
  with_crc[10] = 0xC3;
  EXPECT_EQ(crc16(with_crc, 11), 0) << "a receiver checks data and CRC together";
  EXPECT_STREQ(u32_to_str(0), "0");
  EXPECT_STREQ(u32_to_str(4294967295u), "4294967295");
  EXPECT_EQ(str_to_u32(reinterpret_cast<const unsigned char *>("  1024000 1475")), 1024000u);
  EXPECT_EQ(str_to_u32(reinterpret_cast<const unsigned char *>("x1")), 0u);
}

// Block sizes at the edges: the tail of a file goes in a 128-byte block
// when it fits, padded with 0x1A, and a file that ends on a block edge
// sends no empty block.
TEST_F(Ymodem, SenderBlocksAndBatch) {
  struct Case {
    size_t size;
    std::vector<std::string> blocks;
  } cases[] = {
      {0, {"S0", "EOT"}},
      {100, {"S0", "S1", "EOT"}},
      {1000, {"S0", "X1", "EOT"}},
      {2048, {"S0", "X1", "X2", "EOT"}},
      {2049, {"S0", "X1", "X2", "S3", "EOT"}},
  };
  std::vector<std::string> names;
  std::vector<std::string> all;
  for (const Case &c : cases) {
    std::string name = "f" + std::to_string(c.size) + ".bin";
    put_file(name, pattern(c.size, (unsigned)c.size));
    names.push_back(name);
    all.insert(all.end(), c.blocks.begin(), c.blocks.end());
  }
  all.push_back("S0");  // the end of the batch
  Peer peer(false);
  ASSERT_EQ(ys(names), 0) << peer.console;
  EXPECT_EQ(peer.packets, all);
  EXPECT_TRUE(peer.batch_ended);
  ASSERT_EQ(peer.got.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); i++) {
    EXPECT_EQ(peer.got[i].first, names[i]);
    EXPECT_TRUE(peer.got[i].second == pattern(cases[i].size, (unsigned)cases[i].size)) << names[i];
  }
  EXPECT_NE(peer.console.find("\nSent: f2049.bin\n"), std::string::npos);
  EXPECT_EQ(peer.console.find("sending block"), std::string::npos) << "trace on the line";
}

TEST_F(Ymodem, SenderGivesUpAfterTwelveRefusals) {
  put_file("a.bin", pattern(3000, 1));
  Peer peer(false);
  peer.nak_everything = true;
  EXPECT_EQ(ys({"a.bin"}), -1);
  EXPECT_EQ(std::count(peer.packets.begin(), peer.packets.end(), "X1"), 12);
  EXPECT_EQ(peer.cans, 2);
  EXPECT_NE(peer.console.find("\nYmodem aborted\n"), std::string::npos);
}

TEST_F(Ymodem, SenderReportsAMissingFileBeforeTheProtocol) {
  put_file("a.bin", "x");
  Peer peer(false);
  EXPECT_EQ(ys({"a.bin", "nope.bin"}), -1);
  EXPECT_NE(peer.console.find("f_open error: FR_NO_FILE\n"), std::string::npos) << peer.console;
  EXPECT_TRUE(peer.packets.empty());
}

// Every file of a batch keeps exactly its announced size, not only the
// last; the names on the card are the sender's, and no scratch file stays.
TEST_F(Ymodem, ReceiverCutsEveryFileOfABatch) {
  Peer peer(true);
  peer.files = {{"a.bin", pattern(1500, 2)}, {"b.bin", pattern(0, 3)}, {"c.txt", pattern(700, 4)}};
  yr();
  EXPECT_TRUE(peer.batch_ended) << peer.console;
  for (auto &f : peer.files) EXPECT_TRUE(card(f.first) == f.second) << f.first;
  EXPECT_EQ(card("YMODEM.PRT"), "<missing>");
  EXPECT_EQ(peer.console.find("Opening"), std::string::npos) << "trace on the line";
  EXPECT_EQ(peer.console.find("aborted"), std::string::npos) << peer.console;

  // With debugging on, the trace follows once the line is free again.
  dbg_flag = 1;
  Peer again(true);
  again.files = {{"a.bin", pattern(10, 5)}};
  yr();
  size_t trace = again.console.find("Opening filename = a.bin");
  EXPECT_NE(trace, std::string::npos) << again.console;
  EXPECT_GT(trace, again.console.rfind((char)ACK));
}

// One corrupted, dropped or repeated byte anywhere in either direction
// ends in the whole file or in a cancel with nothing kept; never in a
// wrong file on the card.
TEST_F(Ymodem, LineNoiseNeverLeavesAWrongFile) {
  const std::string data = pattern(2100, 6);
  const std::string old = "the old contents";
  int whole = 0, cancelled = 0;
  for (bool to_logger : {true, false}) {
    for (Fault::Kind kind : {Fault::kCorrupt, Fault::kDrop, Fault::kRepeat}) {
      // Positions in block 0, the first data block's header, data and CRC,
      // the short last block, EOT; on the way back the answers (after the
      // 13 bytes of "Ymodem rcv:").
      std::vector<long> at = to_logger ? std::vector<long>{0, 1, 2, 60, 132, 133, 134, 135, 136,
                                                           700, 1161, 1162, 1163, 1164, 2200, 2300}
                                       : std::vector<long>{13, 14, 15, 16, 17, 18, 19, 20};
      for (long pos : at) {
        SCOPED_TRACE(testing::Message() << (to_logger ? "to the logger" : "to the host")
                                        << " kind " << kind << " at byte " << pos);
        FIL f;
        ASSERT_EQ(f_open(&f, "n.bin", FA_WRITE | FA_CREATE_ALWAYS), FR_OK);
        UINT w;
        f_write(&f, old.data(), (UINT)old.size(), &w);
        f_close(&f);
        Peer peer(true);
        peer.fault = Fault{kind, to_logger, pos};
        peer.files = {{"n.bin", data}};
        yr();
        std::string on_card = card("n.bin");
        bool aborted = peer.console.find("Ymodem aborted") != std::string::npos;
        if (aborted) {
          cancelled++;
          EXPECT_TRUE(on_card == old || on_card == data) << on_card.size() << " bytes on the card";
        } else {
          whole++;
          EXPECT_TRUE(on_card == data) << on_card.size() << " bytes on the card";
        }
        EXPECT_EQ(card("YMODEM.PRT"), "<missing>");
      }
    }
  }
  EXPECT_GT(whole, 3 * cancelled) << "noise is mostly repaired, not fatal";
  printf("line noise: %d whole files, %d cancelled transfers\n", whole, cancelled);
}

TEST_F(Ymodem, ReceiverStoppedHalfWayKeepsNoPartialFile) {
  Peer peer(true);
  peer.files = {{"half.bin", pattern(5000, 7)}};
  peer.stop_after_blocks = 2;
  yr();
  EXPECT_NE(peer.console.find("\nYmodem aborted: Packet timeout error\n"), std::string::npos)
      << peer.console;
  EXPECT_EQ(card("half.bin"), "<missing>");
  EXPECT_EQ(card("YMODEM.PRT"), "<missing>");
}

TEST_F(Ymodem, ReceiverRefusesFilesAboveTheLimit) {
  for (const char *size : {"1024001", "1024000"}) {
    Peer peer(true);
    peer.files = {{"big.bin", "x"}};
    peer.announced_size = size;
    peer.stop_after_blocks = 0;
    yr();
    bool refused = peer.console.find("\nYmodem aborted: File size larger than: 1000 kB\n") !=
                   std::string::npos;
    EXPECT_EQ(refused, std::string(size) == "1024001") << size << ": " << peer.console;
    EXPECT_EQ(card("big.bin"), "<missing>");
  }
}

}  // namespace
