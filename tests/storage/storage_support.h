// A simulated board with its microSD card, for the storage tests: the card
// kind and image are chosen before power-on, the bus trace is rendered as
// text, and host tools (mtools, fsck.fat) look at the image independently.
#pragma once
#include <gtest/gtest.h>
#include <regex.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/init.h"
#include "core/rtc_time.h"
#include "core/sleep.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "ff.h"
#include "sdcard.h"
#include "sim_board.h"
#include "test_time.h"

namespace storage_test {

// Runs a shell command; its output (stdout and stderr) and exit code.
struct Host {
  int rc;
  std::string out;
};

inline Host host(const std::string &cmd) {
  Host h{-1, ""};
  FILE *p = popen(("(" + cmd + ") 2>&1").c_str(), "r");
  if (!p) return h;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) h.out.append(buf, n);
  int st = pclose(p);
  h.rc = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return h;
}

// A file of the image as mtools reads it; "<missing>" when it is not there.
inline std::string mtype(const std::string &image, const std::string &path) {
  Host h = host("mtype -i " + image + " ::" + path + " 2>/dev/null || echo -n \"<missing>\"");
  return h.out;
}

// fsck.fat -n complaints other than what an interrupted append may leave:
// clusters that no committed data uses, a second FAT copy one step behind,
// a free count not yet known.
inline std::vector<std::string> fsck_complaints(const std::string &image, std::string *all) {
  static const char *const harmless[] = {
      "Reclaimed ", "Free cluster summary", "FATs differ but appear to be intact",
      "  Using first FAT", "  File size is ", "  Truncating file to ", "  Auto-correcting",
      "Leaving filesystem unchanged", "fsck.fat ", "/", "Checking ", "Starting check",
  };
  Host h = host("/usr/sbin/fsck.fat -n " + image);
  *all = h.out;
  std::vector<std::string> bad;
  size_t pos = 0;
  while (pos < h.out.size()) {
    size_t nl = h.out.find('\n', pos);
    std::string line = h.out.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? h.out.size() : nl + 1;
    if (line.empty() || line.rfind(image + ": ", 0) == 0) continue;
    bool ok = false;
    for (const char *p : harmless) ok = ok || line.rfind(p, 0) == 0;
    if (!ok) bad.push_back(line);
  }
  if (h.rc > 1) bad.push_back("fsck.fat exit code " + std::to_string(h.rc));
  return bad;
}

// The whole of TEXT against a POSIX extended regular expression. The C
// library's matcher: std::regex made the files that used it the slowest
// of the build to compile.
inline bool matches(const std::string &text, const std::string &ere) {
  regex_t re;
  if (regcomp(&re, ("^(" + ere + ")$").c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
    ADD_FAILURE() << "bad pattern " << ere;
    return false;
  }
  bool hit = regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
  regfree(&re);
  return hit;
}

// Bus trace since the last sd_trace_clear(), one word per event:
// CMD17(1536), ACMD41(1073741824), FE/FC/FD (host tokens), R:E5 (data
// response), B3 (block of sector 3 sent), E04 (error token).
inline std::string bus() {
  std::string s;
  char w[48];
  for (int i = 0; i < sim::sd_trace_count(); i++) {
    const sim::SdEvent &e = sim::sd_trace(i);
    switch (e.kind) {
      case sim::SdEvent::kCommand:
        snprintf(w, sizeof w, "%sCMD%u(%u)", e.app ? "A" : "", e.code, e.arg);
        break;
      case sim::SdEvent::kWriteToken: snprintf(w, sizeof w, "%02X", e.code); break;
      case sim::SdEvent::kDataResponse: snprintf(w, sizeof w, "R:%02X", e.code); break;
      case sim::SdEvent::kReadBlock: snprintf(w, sizeof w, "B%u", e.arg); break;
      case sim::SdEvent::kErrorToken: snprintf(w, sizeof w, "E%02X", e.code); break;
    }
    if (!s.empty()) s += ' ';
    s += w;
  }
  return s;
}

inline uint32_t rtc_of(int y, int mo, int d, int h, int mi, int s) { return rtc_at(y, mo, d, h, mi, s); }

// The board started as at power-on, with a card of the given kind in the
// slot (a fresh 64 MB image, formatted as such a card comes, in the
// board's directory unless an image path is given). The volume is
// registered but not mounted.
class CardTest : public ::testing::Test {
 protected:
  void boot(sim::SdType type = sim::SdType::kSdhc, const std::string &image = "",
            uint32_t size_mb = 64) {
    sim::SdConfig &c = sim::sd_config();
    snprintf(c.image, sizeof c.image, "%s", image.c_str());
    c.size_mb = size_mb;
    c.type = type;
    c.busy_ms = 1.0;
    sim::sd_faults_clear();
    board_ = std::make_unique<SimBoard>("storage");
    init_TM4C123GH6PGE_144pin();
    sleep_handler();  // starts the RTC
    sim::sd_stats_clear();
    sim::sd_trace_clear();
    board_->run_for(0.05);
    board_->out().clear();
  }
  void TearDown() override {
    f_mount(nullptr, "", 0);  // a test's own volume object dies with it
    if (board_) {
      EXPECT_EQ(sim::sd_stats().violations, 0u) << "the card saw the protocol broken";
    }
  }
  SimBoard &board() { return *board_; }
  std::string image() const { return sim::sd_image_path(); }
  // Console output so far, once the transmitter has drained; cleared.
  std::string console() {
    wait_consoleTx();
    board_->run_for(0.01);
    std::string s = board_->out();
    board_->out().clear();
    std::string plain;
    for (size_t i = 0; i < s.size(); i++) {
      if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) plain += s[i];
    }
    return plain;
  }
  void set_clock(uint32_t rtc) { HibernateRTCSet(rtc); }
  // A file put on the card from outside, with mtools.
  void put_file(const std::string &path, const std::string &data) {
    std::string tmp = board_->dir() + "/host.tmp";
    FILE *f = fopen(tmp.c_str(), "wb");
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    ASSERT_EQ(host("mcopy -o -i " + image() + " " + tmp + " ::" + path).rc, 0);
  }

  std::unique_ptr<SimBoard> board_;
};

}  // namespace storage_test
