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
  bool cancel_inside = false;   // then sends half a block and CAN CAN instead
  std::string announced_size;   // overrides the size in block 0
  long blocks_sent = 0;         // data blocks, repeats not counted
  long slow_block = -1;         // this data block goes out 3 s late
  sim::ns_t first_block_at = 0, eot_at = 0;
  // Receiver side.
  bool nak_everything = false;
  long silent_after = -1;       // answers nothing after this many packets
  bool leave_at_end = false;    // takes the closing block 0 without answering
  // The head of this data block is lost, as when a busy host clears its
  // input after the block has begun. Like rb, the peer then reads on until
  // the line has been quiet for a second or a thousand bytes have come, and
  // only then asks again.
  long lose_head_of = -1;
  std::vector<std::pair<std::string, std::string>> got;  // name, data (trimmed)
  std::vector<std::string> packets;  // "S0", "X1": SOH/STX and block number
  std::vector<sim::ns_t> packet_at;  // when each had arrived whole
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
  sim::ns_t last_at = 0;  // when the peer last put a byte on the line

 private:
  bool sending_;
  int slot_;
  static Peer *self_;
  long n_out = 0, n_in = 0;
  // Sender state.
  enum { kWaitC, kWaitAck0, kWaitData, kWaitAck, kWaitEotAck, kSlow, kDone } st_ = kWaitC;
  std::string held_;  // what came while slow, read once the block is out
  size_t file_ = 0;
  size_t offset_ = 0;
  int block_ = 0;
  std::string last_;
  // Receiver state.
  std::string pkt_;
  size_t want_ = 0;
  size_t size_ = 0;
  int lost_ = 0;  // bytes of the lost head still to go
  bool rb_like_ = false;  // any other byte where a packet should start is noise
  bool resyncing_ = false;
  int junk_ = 0;

  // The receiver asks for the transfer with C until something comes; the
  // sender repeats its last packet when no answer came, as sb does.
  static void tick(void *) {
    Peer *p = self_;
    if (!p) return;
    if (p->sending_) {
      if (p->st_ == kSlow) {
        // Like sb: the block goes out, then the first byte that came
        // meanwhile is taken as its answer.
        p->st_ = kWaitAck;
        p->put(p->last_);
        std::string held = p->held_;
        p->held_.clear();
        for (char b : held) p->as_sender((uint8_t)b);
      } else if (p->st_ != kDone && p->st_ != kWaitC) {
        p->put(p->last_);
      }
      return;
    }
    if (p->resyncing_) {
      p->ask_again();
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
    last_at = sim::now();
    if (sending_ && st_ != kDone) sim::event_at(slot_, sim::now() + 5 * sim::kSec);
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
      eot_at = sim::now();
      last_ = std::string(1, (char)EOT);
      st_ = kWaitEotAck;
      put(last_);
      return;
    }
    std::string chunk = data.substr(offset_, 1024);
    if (stop_after_blocks >= 0 && blocks_sent >= stop_after_blocks) {
      st_ = kDone;
      if (cancel_inside) put(packet(block_ + 1, chunk, 1024).substr(0, 500) + "\x18\x18");
      return;
    }
    last_ = packet(++block_, chunk, chunk.size() <= 128 ? 128 : 1024);
    offset_ += chunk.size();
    if (blocks_sent++ == 0) first_block_at = sim::now();
    if (block_ == slow_block) {
      st_ = kSlow;
      sim::event_at(slot_, sim::now() + 3 * sim::kSec);
      return;
    }
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
      case kSlow:
        held_ += (char)b;
        break;
      case kDone:
        break;
    }
  }

  void ask_again() {
    resyncing_ = false;
    junk_ = 0;
    sim::event_cancel(slot_);
    put(std::string(1, (char)NAK));
  }

  void as_receiver(uint8_t b) {
    if (lost_ > 0) {
      if (--lost_ == 0) resyncing_ = true;
      return;
    }
    if (resyncing_) {
      if (++junk_ >= 1000) ask_again();
      else sim::event_at(slot_, sim::now() + sim::kSec);
      return;
    }
    if (pkt_.empty() && b == STX && lose_head_of >= 0 && !got.empty() &&
        (long)(got.back().second.size() / 1024) + 1 == lose_head_of) {
      lose_head_of = -1;
      lost_ = 2;  // the block's number and its complement go with it
      rb_like_ = true;
      return;
    }
    if (pkt_.empty()) {
      if (b == SOH || b == STX) {
        want_ = (b == SOH ? 128 : 1024) + 5;
        pkt_ += (char)b;
      } else if (b == EOT) {
        packets.push_back("EOT");
        put(std::string(1, (char)ACK) + "C");
      } else if (rb_like_ && !batch_ended && b != CAN) {
        resyncing_ = true;
        sim::event_at(slot_, sim::now() + sim::kSec);
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
    if (silent_after >= 0 && (long)packets.size() >= silent_after) {
      packets.push_back("unanswered");
      return;
    }
    const uint8_t *u = reinterpret_cast<const uint8_t *>(p.data());
    size_t len = p.size() - 5;
    if (u[1] + u[2] != 0xFF || ref_crc(u + 3, len + 2) != 0) {
      put(std::string(1, (char)NAK));
      return;
    }
    packets.push_back(std::string(u[0] == SOH ? "S" : "X") + std::to_string(u[1]));
    packet_at.push_back(sim::now());
    if (nak_everything && u[1] != 0) {
      put(std::string(1, (char)NAK));
      return;
    }
    if (u[1] == 0 && (got.empty() || got.back().second.size() >= size_)) {
      if (u[3] == 0) {
        batch_ended = true;
        if (!leave_at_end) put(std::string(1, (char)ACK));
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
  // Scratch files of the receiver still on the card, other than the
  // user's own of the same pattern.
  std::string scratch_left() {
    std::string out;
    for (int k = 0; k < 100; k++) {
      char n[16];
      snprintf(n, sizeof n, "YMODEM%02d.PRT", k);
      FIL f;
      if (f_open(&f, n, FA_READ) != FR_OK) continue;
      bool mine = f_size(&f) == 14;
      f_close(&f);
      if (!mine) out += std::string(n) + " ";
    }
    return out;
  }
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
  EXPECT_EQ(ys({"a.bin"}), 0);
  EXPECT_EQ(std::count(peer.packets.begin(), peer.packets.end(), "X1"), 12);
  EXPECT_EQ(peer.cans, 2);
  EXPECT_NE(peer.console.find("\nYmodem aborted: Too many errors\n"), std::string::npos);
}

// A host that cleared its input late lost the head of a block and asks
// again only after a quiet second: the block goes again once, and the file
// arrives whole.
TEST_F(Ymodem, SenderWaitsForAReceiverThatLostItsPlace) {
  put_file("a.bin", pattern(5000, 3));
  Peer peer(false);
  peer.lose_head_of = 2;
  ASSERT_EQ(ys({"a.bin"}), 0) << peer.console;
  EXPECT_EQ(peer.packets, (std::vector<std::string>{"S0", "X1", "X2", "X3", "X4", "X5", "EOT", "S0"}));
  ASSERT_EQ(peer.got.size(), 1u);
  EXPECT_TRUE(peer.got[0].second == pattern(5000, 3));
}

// A failed send says why in plain text, once the line is the console
// again: a missing file before any protocol byte, a card that fails a
// read with its error text, a receiver that has gone within seconds and
// after at most two copies of the unanswered block.
TEST_F(Ymodem, SenderSaysWhyItFailed) {
  put_file("a.bin", pattern(5000, 1));
  {
    Peer peer(false);
    EXPECT_EQ(ys({"a.bin", "nope.bin"}), 0);
    EXPECT_NE(peer.console.find("f_open error: FR_NO_FILE\n"), std::string::npos) << peer.console;
    EXPECT_TRUE(peer.packets.empty());
  }
  {
    Peer peer(false);
    peer.silent_after = 3;  // block 0, blocks 1 and 2
    ys({"a.bin"});
    EXPECT_EQ(std::count(peer.packets.begin(), peer.packets.end(), "unanswered"), 2);
    EXPECT_NE(peer.console.find("\nYmodem aborted: Packet timeout error\n"), std::string::npos)
        << peer.console;
    EXPECT_LT(sim::now() - peer.last_at, 6 * sim::kSec) << "noticed within seconds";
  }
  {
    Peer peer(false);
    sim::sd_arm_read_error(3);
    ys({"a.bin"});
    EXPECT_NE(peer.console.find("f_read error: "), std::string::npos) << peer.console;
    EXPECT_NE(peer.console.find("\nYmodem aborted: File read error\n"), std::string::npos);
    EXPECT_EQ(peer.cans, 2);
  }
}

// A receiver that leaves as soon as it has the closing block 0, without
// answering it, gets the prompt back within two seconds.
TEST_F(Ymodem, SenderEndsPromptly) {
  put_file("a.bin", pattern(10, 1));
  Peer peer(false);
  peer.leave_at_end = true;
  ys({"a.bin"});
  EXPECT_TRUE(peer.batch_ended);
  EXPECT_NE(peer.console.find("\nSent: a.bin\n"), std::string::npos);
  EXPECT_LT(sim::now() - peer.last_at, 2 * sim::kSec);
}

// Every file of a batch keeps exactly its announced size, not only the
// last; the names on the card are the sender's, and no scratch file stays.
TEST_F(Ymodem, ReceiverCutsEveryFileOfABatch) {
  Peer peer(true);
  peer.files = {{"a.bin", pattern(1500, 2)}, {"b.bin", pattern(0, 3)}, {"c.txt", pattern(700, 4)}};
  yr();
  EXPECT_TRUE(peer.batch_ended) << peer.console;
  for (auto &f : peer.files) EXPECT_TRUE(card(f.first) == f.second) << f.first;
  EXPECT_EQ(scratch_left(), "");
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

// A sender that is only slow draws a NAK after the silence, and takes it
// for the answer to the block it sends next, which it then sends again;
// that copy must not draw a second answer, or every answer after it is
// taken for the following block and the file's end is mistaken.
TEST_F(Ymodem, ReceiverKeepsStepWithASlowSender) {
  Peer peer(true);
  peer.files = {{"slow.bin", pattern(5000, 11)}};
  peer.slow_block = 2;
  yr();
  EXPECT_TRUE(peer.batch_ended) << peer.console;
  EXPECT_EQ(peer.console.find("aborted"), std::string::npos) << peer.console;
  EXPECT_TRUE(card("slow.bin") == peer.files[0].second);
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
        EXPECT_EQ(scratch_left(), "");
      }
    }
  }
  EXPECT_GT(whole, 3 * cancelled) << "noise is mostly repaired, not fatal";
  printf("line noise: %d whole files, %d cancelled transfers\n", whole, cancelled);
}

// A sender that goes silent, or cancels in the middle of a block, is
// noticed within seconds, and no part of its file stays.
TEST_F(Ymodem, ReceiverStoppedHalfWayKeepsNoPartialFile) {
  for (bool cancel : {false, true}) {
    Peer peer(true);
    peer.files = {{"half.bin", pattern(5000, 7)}};
    peer.stop_after_blocks = 2;
    peer.cancel_inside = cancel;
    yr();
    std::string why = cancel ? "Cancelled by the host" : "Packet timeout error";
    EXPECT_NE(peer.console.find("\nYmodem aborted: " + why + "\n"), std::string::npos)
        << peer.console;
    EXPECT_LT(sim::now() - peer.last_at, (cancel ? 3 : 7) * sim::kSec);
    EXPECT_EQ(card("half.bin"), "<missing>");
    EXPECT_EQ(scratch_left(), "");
  }
}

// Size, name and room are judged at block 0: a refused file costs no data
// block, the sender is cancelled, and the reason follows on the console.
TEST_F(Ymodem, ReceiverRefusesAtBlockZero) {
  struct Case {
    std::string name, size, console;
  } cases[] = {
      {"big.bin", "1024001", "\nYmodem aborted: File size larger than: 1000 kB\n"},
      {"big.bin", "4294967297", "\nYmodem aborted: File size larger than: 1000 kB\n"},
      {"big.bin", "99999999999999999999", "\nYmodem aborted: File size larger than: 1000 kB\n"},
      {"toolongname.bin", "10", "f_open error: FR_INVALID_NAME\n\nYmodem aborted: File open error\n"},
      {"nodir/a.bin", "10", "f_open error: FR_NO_PATH\n\nYmodem aborted: File open error\n"},
      {"big.bin", "1024000", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name + " " + c.size);
    Peer peer(true);
    peer.files = {{c.name, "x"}};
    peer.announced_size = c.size;
    peer.stop_after_blocks = 1;
    yr();
    if (c.console.empty()) {
      EXPECT_EQ(peer.blocks_sent, 1) << "accepted";
      continue;
    }
    EXPECT_NE(peer.console.find(c.console), std::string::npos) << peer.console;
    EXPECT_EQ(peer.blocks_sent, 0);
    EXPECT_EQ(card(c.name), "<missing>");
  }
}

// What the user has survives every transfer: a file under any scratch
// name, a directory of the target's name, and a file being replaced until
// the new one no longer fits beside it. Room counts the space the
// replaced file gives back; a file that fits in no way is refused.
TEST_F(Ymodem, ReceiverKeepsWhatTheUserHas) {
  boot(sim::SdType::kSdhc, "", 2);
  const std::string mine = "the user's own";
  put_file("YMODEM.PRT", mine);
  put_file("YMODEM00.PRT", mine);
  ASSERT_EQ(host("mmd -i " + image() + " ::d.bin").rc, 0);
  const std::string old = pattern(600 * 1024, 8);
  put_file("old.bin", old);
  // What is left free: 368 KB, less than the new file.
  std::string listing = host("mdir -i " + image() + " :: | grep 'bytes free'").out;
  size_t free_bytes = 0;
  for (char ch : listing) if (ch >= '0' && ch <= '9') free_bytes = free_bytes * 10 + (size_t)(ch - '0');
  ASSERT_GT(free_bytes, 368u * 1024) << listing;
  put_file("filler", std::string(free_bytes - 368 * 1024, 'f'));

  Peer dir(true);
  dir.files = {{"d.bin", "x"}};
  yr();
  EXPECT_NE(dir.console.find("f_open error: FR_DENIED\n\nYmodem aborted: File open error\n"),
            std::string::npos) << dir.console;
  EXPECT_EQ(dir.blocks_sent, 0);

  Peer too_big(true);
  too_big.files = {{"old.bin", pattern(1000 * 1024, 9)}};
  yr();
  EXPECT_NE(too_big.console.find("\nYmodem aborted: Not enough room on the card\n"),
            std::string::npos) << too_big.console;
  EXPECT_EQ(too_big.blocks_sent, 0);
  EXPECT_TRUE(card("old.bin") == old);

  Peer replace(true);
  const std::string fresh = pattern(550 * 1024, 10);
  replace.files = {{"old.bin", fresh}};
  yr();
  EXPECT_EQ(replace.console.find("aborted"), std::string::npos) << replace.console;
  EXPECT_TRUE(card("old.bin") == fresh);

  EXPECT_EQ(card("YMODEM.PRT"), mine);
  EXPECT_EQ(card("YMODEM00.PRT"), mine);
  EXPECT_EQ(host("mdir -i " + image() + " ::d.bin").rc, 0) << "the directory is still there";
  EXPECT_EQ(scratch_left(), "");
}

// The logger's own share of the line on 1 024 000 bytes each way, against
// a peer that answers at once: what is left of the line rate is the
// logger's turnaround. A benchmark, run by label bench only (it prints).
TEST_F(Ymodem, DISABLED_ThroughputAgainstAPromptPeer) {
  constexpr double kLine = 115200 / 10.0;
  const std::string data = pattern(1024000, 12);
  put_file("down.bin", data);
  Peer up(true);
  up.files = {{"up.bin", data}};
  yr();
  ASSERT_TRUE(card("up.bin") == data);
  double up_s = (double)(up.eot_at - up.first_block_at) / sim::kSec;
  Peer down(false);
  ASSERT_EQ(ys({"down.bin"}), 0);
  ASSERT_TRUE(down.got.size() == 1 && down.got[0].second == data) << down.console;
  // From the end of block 1 to the end of block 1000.
  double down_s = (double)(down.packet_at[1000] - down.packet_at[1]) / sim::kSec;
  printf("YMODEM, 1024-byte blocks, the logger against a prompt peer, virtual time:\n");
  printf("  receiving: %.2f s for 1000 blocks, %.0f bytes/s, %.1f%% of the line\n", up_s,
         1024000 / up_s, 100 * 1024000 / up_s / kLine);
  printf("  sending:   %.2f s for 999 blocks, %.0f bytes/s, %.1f%% of the line\n", down_s,
         1022976 / down_s, 100 * 1022976 / down_s / kLine);
}

}  // namespace
