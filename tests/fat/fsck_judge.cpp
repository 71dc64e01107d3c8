#include "fsck_judge.h"

#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <initializer_list>
#include <sstream>

namespace fsck_judge {
namespace {

// '#' in pat stands for a run of digits, '*' for anything.
bool like(const char* s, const char* pat) {
    if (*pat == '*') return like(s, pat + 1) || (*s && like(s + 1, pat));
    if (*pat == '#') {
        if (!isdigit(static_cast<unsigned char>(*s))) return false;
        while (isdigit(static_cast<unsigned char>(s[1]))) s++;
        return like(s + 1, pat + 1);
    }
    return *pat == *s && (*s == 0 || like(s + 1, pat + 1));
}

bool like_any(const std::string& line, std::initializer_list<const char*> pats) {
    for (const char* pat : pats)
        if (like(line.c_str(), pat)) return true;
    return false;
}

bool interrupted(const std::string& line) {
    return like_any(line, {"FATs differ but appear to be intact.", "  Using first FAT.",
                           "Reclaimed # unused cluster (# bytes).", "Reclaimed # unused clusters (# bytes).",
                           "Reclaimed # unused clusters (# bytes) in # chains.",
                           "Free cluster summary uninitialized (should be #)",
                           "  File size is # bytes, cluster chain length is > # bytes.",
                           "  Truncating file to # bytes.",
                           // a FAT12 entry that straddles two sectors, half written
                           "Cluster # out of range (# > #). Setting to EOF."});
}

bool moved(const std::string& line) {
    return like_any(line, {"/*  and", "  share clusters.", "  Truncating second to 0 bytes.",
                           "  File size is # bytes, cluster chain length is 0 bytes.",
                           "  Invalid '..' entry in the second slot. Fixing."});
}

} // namespace

std::vector<std::string> complaints(const std::string& out, int rc, const std::string& image, unsigned allow) {
    std::vector<std::string> bad;
    bool any = false;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.rfind("fsck.fat ", 0) == 0 || line.rfind(image + ": ", 0) == 0) continue;
        // "Leaving filesystem unchanged." follows every finding of -n; a bare
        // path names the file of the lines that follow it.
        if (line == "Leaving filesystem unchanged." ||
            (line[0] == '/' && line.find(' ') == std::string::npos))
            continue;
        any = true;
        if ((allow & kInterrupted) && interrupted(line)) continue;
        if ((allow & kMoved) && moved(line)) continue;
        bad.push_back(line);
    }
    if (rc > 1 || (rc != 0 && !any) || (rc == 0 && any && allow == kClean))
        bad.push_back("fsck.fat exit code " + std::to_string(rc));
    return bad;
}

Verdict check(const std::string& image, unsigned allow) {
    Verdict v{-1, {}, {}};
    FILE* p = popen(("/usr/sbin/fsck.fat -n " + image + " 2>&1").c_str(), "r");
    if (p) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) v.out.append(buf, n);
        int st = pclose(p);
        v.rc = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    std::istringstream in(v.out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(image + ": ", 0) == 0)
            std::sscanf(line.c_str() + image.size() + 2, "%*u files, %lu/%lu clusters", &v.used, &v.total);
    v.bad = complaints(v.out, v.rc, image, allow);
    return v;
}

long sweep(const Sweep& s) {
    s.fresh();
    long writes = s.act(0);
    s.judge(0);
    for (long k = 1; k <= writes && !s.stop(); k++) {
        s.fresh();
        s.act(k);
        s.judge(k);
    }
    return writes;
}

} // namespace fsck_judge
