// vozpack: the command line run as a user runs it (the binary of this build,
// VOZPACK_EXE), and the matcher, time stamps and locator as functions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CRC_32.h"
#include "VozDecode.h"
#include "VozEncode.h"
#include "VozFormat.h"
#include "PackCompress.h"
#include "PackDelta.h"
#include "PackDosTime.h"
#include "VozPack.h"
#include "VozReader.h"

namespace fs = std::filesystem;
using TBytes = std::vector<uint8_t>;

namespace {

TBytes ReadBytes(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(f), {});
}

void WriteBytes(const fs::path& p, const TBytes& data) {
    fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void WriteText(const fs::path& p, const std::string& s) { WriteBytes(p, TBytes(s.begin(), s.end())); }

TBytes RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    TBytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

// Text that compresses, but not trivially.
TBytes TextBytes(size_t n, uint32_t seed) {
    static const char* kWords[] = {"setup ",     "archive ", "entry ", "block ", "stream ", "folder ",
                                   "checksum\n", "patch ",   "the ",   "of ",    "to ",     "is "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) s += kWords[rng() % 12];
    s.resize(n);
    return TBytes(s.begin(), s.end());
}

void SetMtime(const fs::path& p, time_t t) {
    struct timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

time_t Mtime(const fs::path& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? st.st_mtime : -1;
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct TRun {
    int status;
    std::string out, err;
};

class VozpackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vozpack-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        // Read-only files and folders must not stop the clean-up.
        std::system(("chmod -R u+w " + Quote(dir_.string()) + " 2>/dev/null").c_str());
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    TRun Run(const std::vector<std::string>& args) {
        std::string cmd = Quote(VOZPACK_EXE);
        for (const auto& a : args) cmd += " " + Quote(a);
        const fs::path out = dir_ / ".stdout", err = dir_ / ".stderr";
        cmd += " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
        const int raw = std::system(cmd.c_str());
        TRun r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        const TBytes o = ReadBytes(out), e = ReadBytes(err);
        r.out.assign(o.begin(), o.end());
        r.err.assign(e.begin(), e.end());
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    std::string P(const std::string& rel) const { return (dir_ / rel).string(); }
    // Packs a fresh src holding fine.txt and file behind stub.exe into setup.exe.
    TRun PackWithFile(const std::string& file) {
        fs::remove_all(dir_ / "src");
        WriteText(dir_ / "src" / "fine.txt", "fine");
        WriteText(dir_ / "src" / file, "x");
        return Run({"pack", "--stub", P("stub.exe"), "--out", P("setup.exe"), P("src")});
    }

    // Files a folder holds, relative name to content.
    static std::vector<std::pair<std::string, TBytes>> Tree(const fs::path& root) {
        std::vector<std::pair<std::string, TBytes>> files;
        for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
            if (it->is_regular_file())
                files.emplace_back(fs::relative(it->path(), root).string(), ReadBytes(it->path()));
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    // Names in the folder other than the ones given (leftover temp files).
    static std::vector<std::string> Leftovers(const fs::path& folder, const std::vector<std::string>& expected) {
        std::vector<std::string> extra;
        for (const auto& e : fs::directory_iterator(folder)) {
            const std::string n = e.path().filename().string();
            if (n[0] != '.' && std::find(expected.begin(), expected.end(), n) == expected.end()) extra.push_back(n);
        }
        return extra;
    }

    fs::path dir_;
};

// A bare archive from entries made with the codec's writer; entries may be
// bent after encoding to make bad archives.
struct TRawEntry {
    std::string name;
    TBytes content;
    TBytes stream;  // empty: encode the content
    TEntryHeader header;
    bool headerGiven = false;
};

TBytes MakeArchive(const std::vector<TRawEntry>& entries) {
    std::vector<uint8_t> body;
    for (const TRawEntry& e : entries) {
        TBytes stream = e.stream;
        if (stream.empty()) {
            EXPECT_TRUE(EncodeEntryStream(e.content.data(), e.content.size(), TEncodeOptions{}, &stream));
        }
        TEntryHeader h = e.header;
        if (!e.headerGiven) {
            h.timeStamp = DosStampFromParts(2020, 5, 17, 10, 30, 0);
            h.contentSize = static_cast<uint32_t>(e.content.size());
            h.attributes = 0x20;
            h.checksum = Crc32Update(e.content.data(), static_cast<int32_t>(e.content.size()), kRegisterStart);
        }
        h.storedSize = static_cast<uint32_t>(stream.size());
        EXPECT_TRUE(AppendArchiveEntry(&body, e.name, h, stream.data(), stream.size()));
    }
    return FinishArchive(std::move(body), nullptr, 0);
}

// A patch from raw command bytes, in one stored block.
TBytes PatchFromCommands(const TBytes& commands) {
    TBytes out;
    EXPECT_TRUE(EncodeBlock(commands.data(), static_cast<int32_t>(commands.size()), TEncodeOptions{0}, &out));
    return out;
}

// ---- pack, list, test, extract ------------------------------------------------

TEST_F(VozpackTest, SetupFileRoundTrip) {
    const fs::path src = dir_ / "src";
    const TBytes random = RandomBytes(5 * 1024 * 1024 + 77, 1);  // several blocks, incompressible
    const TBytes text = TextBytes(3 * 1024 * 1024, 2);           // several blocks, compressible
    WriteBytes(src / "bin" / "random.dat", random);
    WriteBytes(src / "doc" / "text.txt", text);
    WriteBytes(src / "empty.txt", {});
    WriteText(src / "readonly.ini", "[a]\nb=1\n");
    WriteText(src / "old.txt", "from 1975");
    WriteText(src / "odd.txt", "odd second");
    fs::create_directories(src / "nothing" / "here");
    chmod((src / "readonly.ini").c_str(), 0444);
    SetMtime(src / "old.txt", 170000000);   // 1975: clamps to 1980-01-01 00:00
    SetMtime(src / "odd.txt", 1600000001);  // an odd second rounds down
    const TBytes stub = RandomBytes(1001, 3);
    WriteBytes(dir_ / "stub.exe", stub);

    TRun r = Run({"pack", "--stub", P("stub.exe"), "--out", P("setup.exe"), src.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("\"nothing\\here\" holds no files"), std::string::npos) << r.err;

    // Stub, zero padding to a multiple of 8 in all, marker, archive.
    const TBytes setup = ReadBytes(dir_ / "setup.exe");
    ASSERT_EQ(setup.size() % 8, 0u);
    ASSERT_TRUE(std::equal(stub.begin(), stub.end(), setup.begin()));
    const int64_t marker = FindMarker(setup.data(), setup.size(), UpperCaseMarker());
    ASSERT_GE(marker, static_cast<int64_t>(stub.size()));
    ASSERT_LT(marker, static_cast<int64_t>(stub.size()) + 8);
    for (int64_t i = static_cast<int64_t>(stub.size()); i < marker; i++) EXPECT_EQ(setup[i], 0);
    EXPECT_EQ(std::string(setup.begin() + marker, setup.begin() + marker + 24), "<VOZIP FILE BEGINS HERE>");

    // The bare archive is exactly what follows the marker.
    r = Run({"pack", "--archive-only", "--out", P("bare.voz"), src.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const TBytes bare = ReadBytes(dir_ / "bare.voz");
    EXPECT_TRUE(std::equal(bare.begin(), bare.end(), setup.begin() + marker + 24, setup.end()));
    EXPECT_EQ(bare.size(), setup.size() - marker - 24);

    // Byte-identical output from the same inputs, whatever the thread count.
    r = Run({"pack", "--threads", "1", "--stub", P("stub.exe"), "--out", P("again.exe"), src.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir_ / "again.exe"), setup);
    r = Run({"pack", "--threads", "3", "--stub", P("stub.exe"), "--out", P("again.exe"), src.string()});
    EXPECT_EQ(ReadBytes(dir_ / "again.exe"), setup);

    // list: sorted byte-wise, "\" separators, time stamps and attributes.
    for (const std::string& file : {P("setup.exe"), P("bare.voz")}) {
        r = Run({"list", file});
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream lines(r.out);
        std::vector<std::string> names;
        for (std::string line; std::getline(lines, line);) {
            std::istringstream f(line);
            std::string size, stored, date, time, attrs, name;
            f >> size >> stored >> date >> time >> attrs >> name;
            names.push_back(name);
            if (name == "old.txt") {
                EXPECT_EQ(date + " " + time, "1980-01-01 00:00:00");
            }
            if (name == "readonly.ini") {
                EXPECT_EQ(attrs, "R--A");
            }
            if (name == "empty.txt") {
                EXPECT_EQ(size, "0");
            }
            if (name == "doc\\text.txt") {
                EXPECT_EQ(size, std::to_string(text.size()));
                EXPECT_LT(std::stoul(stored), text.size() / 2);
                EXPECT_EQ(attrs, "---A");
            }
        }
        EXPECT_EQ(names, (std::vector<std::string>{"bin\\random.dat", "doc\\text.txt", "empty.txt", "odd.txt",
                                                   "old.txt", "readonly.ini"}));
    }

    r = Run({"test", P("setup.exe")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("6 files"), std::string::npos) << r.out;

    // extract: same contents, times to the DOS resolution, read-only kept.
    for (int round = 0; round < 2; round++) {  // the second round replaces the files
        r = Run({"extract", P("setup.exe"), P("out")});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Tree(dir_ / "out"), Tree(src));
        EXPECT_EQ(Mtime(dir_ / "out" / "odd.txt"), 1600000000);
        struct tm t1980 = {};
        t1980.tm_year = 80, t1980.tm_mday = 1, t1980.tm_isdst = -1;
        EXPECT_EQ(Mtime(dir_ / "out" / "old.txt"), mktime(&t1980));
        EXPECT_EQ(Mtime(dir_ / "out" / "bin" / "random.dat"), Mtime(src / "bin" / "random.dat") / 2 * 2);
        struct stat st;
        ASSERT_EQ(stat((dir_ / "out" / "readonly.ini").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0222, 0u);
        ASSERT_EQ(stat((dir_ / "out" / "odd.txt").c_str(), &st), 0);
        EXPECT_NE(st.st_mode & 0200, 0u);
        EXPECT_TRUE(Leftovers(dir_ / "out", {"bin", "doc", "empty.txt", "odd.txt", "old.txt", "readonly.ini"}).empty());
    }
    EXPECT_FALSE(fs::exists(dir_ / "out" / "nothing"));
}

TEST_F(VozpackTest, LevelsAndCompressors) {
    const fs::path src = dir_ / "src";
    WriteBytes(src / "a.txt", TextBytes(2500000, 5));
    WriteBytes(src / "b.bin", RandomBytes(300000, 6));
    std::map<std::string, uintmax_t> sizes;
    for (const std::vector<std::string>& level :
         {std::vector<std::string>{"--level", "0"}, {"--level", "1"}, {"--level", "6"}, {"--level=9"}, {"--best"}}) {
        std::vector<std::string> args = {"pack", "--archive-only", "--out", P("a.voz")};
        args.insert(args.end(), level.begin(), level.end());
        args.push_back(src.string());
        TRun r = Run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        r = Run({"extract", P("a.voz"), P("out")});
        ASSERT_EQ(r.status, 0) << level.back() << r.err;
        EXPECT_EQ(Tree(dir_ / "out"), Tree(src));
        sizes[level.back()] = fs::file_size(dir_ / "a.voz");
        fs::remove_all(dir_ / "out");
    }
    EXPECT_GT(sizes["0"], 2800000u);  // stored: content plus headers
    EXPECT_LT(sizes["6"], sizes["1"]);
    EXPECT_LE(sizes["--best"], sizes["6"]);

    // Both compressors make blocks the decoder takes, on any thread count.
    const TBytes text = TextBytes(5000000, 7);
    for (bool zlib : {false, true}) {
        std::vector<TBlockJob> jobs;
        for (size_t at = 0; at < text.size(); at += 1000000) {
            jobs.push_back({text.data() + at, static_cast<int32_t>(std::min<size_t>(1000000, text.size() - at))});
        }
        TCompressOptions o;
        o.useZlib = zlib;
        std::vector<std::vector<uint8_t>> one, four;
        o.threads = 1;
        ASSERT_TRUE(EncodeBlocks(jobs, o, &one, nullptr, nullptr));
        o.threads = 4;
        ASSERT_TRUE(EncodeBlocks(jobs, o, &four, nullptr, nullptr));
        EXPECT_EQ(one, four);
        for (size_t i = 0; i < jobs.size(); i++) {
            TBlockHeader h = UnpackBlockHeader(one[i].data());
            EXPECT_EQ(h.method, kMethodZlib);
            TBytes inflated(static_cast<size_t>(h.decodedLength));
            EXPECT_TRUE(InflateBlock(one[i].data() + kBlockHeaderSize, h.storedLength, inflated.data(), h.decodedLength,
                                     nullptr, 0));
            EXPECT_TRUE(std::equal(inflated.begin(), inflated.end(), jobs[i].commands));
        }
    }
}

TEST_F(VozpackTest, MarkerAcrossReadChunkBoundary) {
    // The reader scans in 1 MiB chunks; a marker cut by a chunk's end is found.
    WriteText(dir_ / "src" / "a.txt", "hello");
    WriteBytes(dir_ / "stub.exe", RandomBytes((1 << 20) - 10, 9));
    TRun r = Run({"pack", "--stub", P("stub.exe"), "--out", P("setup.exe"), P("src")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run({"extract", P("setup.exe"), P("out")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir_ / "out" / "a.txt"), TBytes({'h', 'e', 'l', 'l', 'o'}));
}

// A minimal PE32+ image: DOS header, PE header and an optional header with
// 16 data directories; the security directory is filled in later.
TBytes MinimalPe() {
    TBytes pe(0x200, 0);
    pe[0] = 'M', pe[1] = 'Z';
    pe[0x3C] = 0x80;
    std::memcpy(&pe[0x80], "PE\0\0", 4);
    pe[0x84] = 0x64, pe[0x85] = 0x86;  // machine x64
    pe[0x94] = 240;                    // size of the optional header
    pe[0x98] = 0x0B, pe[0x99] = 0x02;  // PE32+
    pe[0x98 + 108] = 16;               // number of data directories
    return pe;
}

void SetSecurityDirectory(TBytes* file, uint32_t offset, uint32_t size) {
    const size_t at = 0x98 + 112 + 4 * 8;
    for (int i = 0; i < 4; i++) {
        (*file)[at + i] = static_cast<uint8_t>(offset >> (8 * i));
        (*file)[at + 4 + i] = static_cast<uint8_t>(size >> (8 * i));
    }
}

TEST_F(VozpackTest, SignedSetupEndsArchiveAtCertificateTable) {
    WriteText(dir_ / "src" / "a.txt", "signed payload");
    WriteBytes(dir_ / "stub.exe", MinimalPe());
    ASSERT_EQ(Run({"pack", "--stub", P("stub.exe"), "--out", P("setup.exe"), P("src")}).status, 0);
    const TBytes setup = ReadBytes(dir_ / "setup.exe");
    const TBytes table = RandomBytes(1000, 10);

    struct TCase {
        const char* what;
        uint32_t offset, size;  // the security directory
        size_t junkAfter;       // bytes behind the table
        int status;
    } cases[] = {
        {"table at the archive's end, to the file's end", 0, 1000, 0, 0},
        {"table that does not reach the file's end", 0, 1000, 8, 2},
        {"table that starts inside the archive", 0xFFFFFFFF, 1000, 0, 2},
    };
    for (const TCase& c : cases) {
        TBytes signedFile = setup;
        signedFile.insert(signedFile.end(), table.begin(), table.end());
        signedFile.insert(signedFile.end(), c.junkAfter, 0);
        const uint32_t offset =
            c.offset == 0xFFFFFFFF ? static_cast<uint32_t>(setup.size() - 2) : static_cast<uint32_t>(setup.size());
        SetSecurityDirectory(&signedFile, offset, c.size);
        WriteBytes(dir_ / "signed.exe", signedFile);
        const TRun r = Run({"test", P("signed.exe")});
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
        if (c.status == 2) {
            EXPECT_NE(r.err.find("(code -5)"), std::string::npos) << c.what << ": " << r.err;
        }
    }
    TCertificateTable found;
    TBytes head = MinimalPe();
    SetSecurityDirectory(&head, 0x1234, 0x56);
    ASSERT_TRUE(FindCertificateTable(head.data(), head.size(), &found));
    EXPECT_EQ(found.offset, 0x1234u);
    EXPECT_EQ(found.size, 0x56u);
    head[0x98] = 0x0B, head[0x99] = 0x01;  // PE32: the directories sit 16 bytes earlier
    EXPECT_FALSE(FindCertificateTable(head.data(), head.size(), &found));
    EXPECT_FALSE(FindCertificateTable(head.data(), 0x100, &found));  // cut headers
}

// PE headers that name a certificate table but stand behind the marker
// (here in the appended bytes themselves) are not the program's: like the
// setup (archive_test, HeadersBehindTheMarker), vozpack then takes the rest
// of the file as the archive, and the appended bytes fail its checksum. The
// same headers in the stub end the archive at the table.
TEST_F(VozpackTest, CertificateTableNamedBehindTheMarkerIsIgnored) {
    WriteText(dir_ / "src" / "a.txt", "payload");
    TBytes stub(0x200, 0);
    stub[0] = 'M', stub[1] = 'Z';  // no PE headers of its own
    WriteBytes(dir_ / "stub.exe", stub);
    ASSERT_EQ(Run({"pack", "--stub", P("stub.exe"), "--out", P("setup.exe"), P("src")}).status, 0);
    const TBytes setup = ReadBytes(dir_ / "setup.exe");
    const uint32_t tail = static_cast<uint32_t>(setup.size());

    // The appended bytes: PE headers whose security entry names themselves.
    TBytes pe = MinimalPe();
    SetSecurityDirectory(&pe, tail, static_cast<uint32_t>(pe.size() - 0x80));
    TBytes behind = setup;
    behind.insert(behind.end(), pe.begin() + 0x80, pe.end());
    for (int i = 0; i < 4; i++) behind[0x3C + i] = static_cast<uint8_t>(tail >> (8 * i));
    WriteBytes(dir_ / "behind.exe", behind);
    const TRun r = Run({"test", P("behind.exe")});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("the archive is damaged (code -5)"), std::string::npos) << r.err;

    // Headers in the stub that name the same table: signed, and it verifies.
    TBytes inStub = setup;
    inStub.insert(inStub.end(), pe.begin() + 0x80, pe.end());
    std::copy(pe.begin(), pe.begin() + 0x200, inStub.begin());
    WriteBytes(dir_ / "instub.exe", inStub);
    EXPECT_EQ(Run({"test", P("instub.exe")}).status, 0);
}

TEST_F(VozpackTest, PackRefusesWhatCannotBeCarried) {
    WriteText(dir_ / "setup.exe", "previous output");
    WriteBytes(dir_ / "stub.exe", MinimalPe());
    struct TCase {
        const char* name;  // a file below the folder
        const char* message;
    } cases[] = {
        {"aux.txt", "cannot be extracted on Windows"}, {"sub/con", "cannot be extracted on Windows"},
        {"a:b", "cannot be extracted on Windows"},     {"what?.txt", "cannot be extracted on Windows"},
        {"back\\slash", "holds a backslash"},
    };
    for (const TCase& c : cases) {
        const TRun r = PackWithFile(c.name);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
        EXPECT_EQ(ReadBytes(dir_ / "setup.exe"),
                  TBytes({'p', 'r', 'e', 'v', 'i', 'o', 'u', 's', ' ', 'o', 'u', 't', 'p', 'u', 't'}));
        EXPECT_TRUE(Leftovers(dir_, {"setup.exe", "stub.exe", "src"}).empty());
    }

    // A file of 2 GiB (sparse, so nothing is written) is refused before reading.
    fs::remove_all(dir_ / "src");
    WriteText(dir_ / "src" / "fine.txt", "fine");
    {
        std::FILE* f = std::fopen((dir_ / "src" / "huge.bin").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(ftruncate(fileno(f), off_t{1} << 31), 0);
        std::fclose(f);
    }
    TRun r = Run({"pack", "--stub", P("stub.exe"), "--out", P("setup.exe"), P("src")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("2 GiB"), std::string::npos) << r.err;
    EXPECT_TRUE(Leftovers(dir_, {"setup.exe", "stub.exe", "src"}).empty());

    // A stub that is already a setup file would give two markers.
    fs::remove(dir_ / "src" / "huge.bin");
    ASSERT_EQ(Run({"pack", "--stub", P("stub.exe"), "--out", P("setup.exe"), P("src")}).status, 0);
    r = Run({"pack", "--stub", P("setup.exe"), "--out", P("twice.exe"), P("src")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("already holds a payload marker"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "twice.exe"));
}

TEST_F(VozpackTest, PackFollowsLinksSkipsSpecialFilesRefusesLoops) {
    const fs::path src = dir_ / "src";
    WriteText(dir_ / "outside" / "linked.txt", "through a link");
    WriteText(src / "real.txt", "real");
    fs::create_symlink(dir_ / "outside" / "linked.txt", src / "filelink.txt");
    fs::create_directory_symlink(dir_ / "outside", src / "dirlink");
    fs::create_symlink(dir_ / "missing", src / "broken");
    ASSERT_EQ(mkfifo((src / "fifo").c_str(), 0644), 0);
    WriteBytes(dir_ / "stub.exe", MinimalPe());
    TRun r = Run({"pack", "--archive-only", "--out", P("a.voz"), src.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("broken: a link to nothing"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("fifo: not a regular file"), std::string::npos) << r.err;
    r = Run({"list", P("a.voz")});
    EXPECT_NE(r.out.find("dirlink\\linked.txt"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("filelink.txt"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3);

    // The output file inside the packed folder is not packed into itself.
    r = Run({"pack", "--archive-only", "--out", (src / "a.voz").string(), src.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run({"pack", "--archive-only", "--out", (src / "a.voz").string(), src.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("it is the output file"), std::string::npos) << r.err;
    fs::remove(src / "a.voz");

    fs::create_directories(src / "sub");
    fs::create_directory_symlink(src, src / "sub" / "loop");
    r = Run({"pack", "--archive-only", "--out", P("b.voz"), src.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("loop"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "b.voz"));
}

TEST_F(VozpackTest, UsageAndInputErrors) {
    WriteText(dir_ / "src" / "a.txt", "a");
    WriteText(dir_ / "file.txt", "not an archive");
    struct TCase {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{}, 1, "usage:"},
        {{"frobnicate"}, 1, "unknown command frobnicate"},
        {{"pack", "--out", P("o.exe"), P("src")}, 1, "pack needs --stub"},
        {{"pack", "--stub", P("file.txt"), P("src")}, 1, "pack needs --out"},
        {{"pack", "--archive-only", "--stub", P("file.txt"), "--out", P("o"), P("src")}, 1, "takes no --stub"},
        {{"pack", "--stub", P("missing.exe"), "--out", P("o.exe"), P("src")}, 1, "cannot open"},
        {{"pack", "--stub", P("file.txt"), "--out", P("o.exe"), P("missing")}, 1, "is not a folder"},
        {{"pack", "--level", "10", "--archive-only", "--out", P("o"), P("src")}, 1, "--level needs a number"},
        {{"pack", "--threads", "0", "--archive-only", "--out", P("o"), P("src")}, 1, "--threads needs"},
        {{"pack", "--archive-only", "--out", P("no/such/dir/o"), P("src")}, 1, "cannot create"},
        {{"pack", "--bogus", "--archive-only", "--out", P("o"), P("src")}, 1, "unknown option --bogus"},
        {{"list"}, 1, "list needs one file"},
        {{"list", P("missing.voz")}, 1, "cannot open"},
        {{"test", P("src")}, 1, "is a folder"},
        {{"extract", P("file.txt")}, 1, "extract needs a file and a folder"},
        {{"patch", P("file.txt"), P("file.txt")}, 1, "patch needs REF PATCH OUT"},
        {{"patch", P("missing"), P("file.txt"), P("o")}, 1, "cannot open"},
        {{"diff", P("file.txt"), P("missing"), P("o")}, 1, "cannot open"},
        {{"list", P("file.txt")}, 2, "no payload marker was found and the file is no archive (code -5)"},
    };
    for (const TCase& c : cases) {
        const TRun r = Run(c.args);
        std::string what;
        for (const auto& a : c.args) what += a + " ";
        EXPECT_EQ(r.status, c.status) << what << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << what << r.err;
        // A failure is one line; usage follows a usage error only.
        if (c.status == 2) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
    EXPECT_FALSE(fs::exists(dir_ / "o"));
    EXPECT_FALSE(fs::exists(dir_ / "o.exe"));
    const TRun help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("vozpack pack --stub"), std::string::npos);
    const TRun version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("vozpack 1.0 ", 0), 0u) << version.out;
    const TRun none = Run({});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("usage:"), std::string::npos);
}

TEST_F(VozpackTest, DamagedArchivesAndUnsafeNames) {
    WriteText(dir_ / "src" / "a.txt", "first entry");
    WriteBytes(dir_ / "src" / "b.bin", RandomBytes(100000, 11));
    ASSERT_EQ(Run({"pack", "--archive-only", "--out", P("good.voz"), P("src")}).status, 0);
    const TBytes good = ReadBytes(dir_ / "good.voz");

    TBytes flipped = good;
    flipped[flipped.size() / 2] ^= 0x01;
    WriteBytes(dir_ / "stub.exe", MinimalPe());
    ASSERT_EQ(Run({"pack", "--stub", P("stub.exe"), "--out", P("setup.exe"), P("src")}).status, 0);
    TBytes flippedSetup = ReadBytes(dir_ / "setup.exe");
    flippedSetup[flippedSetup.size() - 100] ^= 0x80;
    const TBytes content = {'o', 'k'};
    TRawEntry wrongChecksum{"b.txt", content, {}, {}, true};
    wrongChecksum.header = {0x50A00000, 2, 0x20, 0, 0x12345678};
    TBytes longStream;
    ASSERT_TRUE(EncodeEntryStream(content.data(), content.size(), TEncodeOptions{}, &longStream));
    longStream.insert(longStream.end(), 4, 0);
    TRawEntry padded{"c.txt", content, longStream, {}, false};
    // An entry stream that copies from a base: extraction has none.
    TCommandWriter w;
    BeginCommands(&w, kMaxBlockDecoded);
    AddCopy(&w, content.data(), 0, 2);
    AddEnd(&w);
    TBytes copyStream;
    ASSERT_TRUE(EncodeCommands(w, TEncodeOptions{}, &copyStream));
    TRawEntry copying{"d.txt", content, copyStream, {}, false};
    TRawEntry wrongSize{"e.txt", content, {}, {0x50A00000, 3, 0x20, 0, 0}, true};
    wrongSize.header.checksum = Crc32Update(content.data(), 2, kRegisterStart);

    struct TCase {
        const char* what;
        TBytes archive;
        const char* message;
        int code;
    } cases[] = {
        {"one flipped body bit", flipped, "the body checksum does not match: no payload marker", -5},
        {"one flipped bit in a setup file", flippedSetup, "the body checksum does not match: the archive is damaged",
         -5},
        {"three bytes", TBytes{0xFF, 0xFF, 0xFF}, "shorter than its 4-byte trailer", -5},
        {"wrong entry checksum", MakeArchive({{"a.txt", content, {}, {}, false}, wrongChecksum}),
         "entry \"b.txt\": the content checksum does not match", -6},
        {"stored size beyond its stream", MakeArchive({padded}), "stored size does not match its stream", -6},
        {"copy from the empty base", MakeArchive({copying}), "a copy reaches outside the reference file", -6},
        {"wrong content size", MakeArchive({wrongSize}), "the content size does not match", -6},
    };
    for (const TCase& c : cases) {
        WriteBytes(dir_ / "bad.voz", c.archive);
        for (const char* command : {"test", "extract"}) {
            fs::remove_all(dir_ / "out");
            const TRun r =
                command == std::string("test") ? Run({command, P("bad.voz")}) : Run({command, P("bad.voz"), P("out")});
            EXPECT_EQ(r.status, 2) << c.what << ": " << r.err;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
            EXPECT_NE(r.err.find("(code " + std::to_string(c.code) + ")"), std::string::npos) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
        // Nothing of a failing entry is left; the body checksum fails before any file.
        const std::vector<std::string> left =
            fs::exists(dir_ / "out") ? Leftovers(dir_ / "out", {"a.txt"}) : std::vector<std::string>{};
        EXPECT_TRUE(left.empty()) << c.what << ": " << (left.empty() ? "" : left[0]);
        if (c.code == -5) {
            EXPECT_FALSE(fs::exists(dir_ / "out" / "a.txt")) << c.what;
        }
        EXPECT_EQ(ReadBytes(dir_ / "bad.voz"), c.archive) << "the archive file must not change";
    }

    // Names that would leave the destination or name a device: the entry
    // fails before anything of it is created; earlier entries stay.
    for (const char* name : {"..\\evil.txt", "sub\\..\\..\\evil.txt", "\\evil.txt", "/evil.txt", "C:\\evil.txt",
                             "c:evil.txt", "sub\\NUL.txt", "com1", "a\x01.txt"}) {
        fs::remove_all(dir_ / "dest");
        WriteBytes(dir_ / "unsafe.voz",
                   MakeArchive({{"fine.txt", content, {}, {}, false}, {name, content, {}, {}, false}}));
        const TRun r = Run({"extract", P("unsafe.voz"), P("dest/inner")});
        EXPECT_EQ(r.status, 2) << name;
        EXPECT_NE(r.err.find("(code -6)"), std::string::npos) << name << ": " << r.err;
        EXPECT_EQ(Tree(dir_ / "dest"), (std::vector<std::pair<std::string, TBytes>>{{"inner/fine.txt", content}}))
            << name;
        EXPECT_FALSE(fs::exists(dir_ / "evil.txt"));
        EXPECT_EQ(Run({"test", P("unsafe.voz")}).status, 2) << name;
        EXPECT_EQ(Run({"list", P("unsafe.voz")}).status, 0) << name;  // listing shows it
    }

    // An empty archive (just the trailer) extracts nothing and succeeds.
    WriteBytes(dir_ / "empty.voz", TBytes{0xFF, 0xFF, 0xFF, 0xFF});
    TRun r = Run({"extract", P("empty.voz"), P("none")});
    EXPECT_EQ(r.status, 0) << r.err;
    r = Run({"list", P("empty.voz")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");

    // An empty file stored as four uninterpreted bytes.
    TRawEntry four{"empty.dat", {}, {1, 2, 3, 4}, {0x50A00000, 0, 0x21, 0, kRegisterStart}, true};
    WriteBytes(dir_ / "four.voz", MakeArchive({four}));
    r = Run({"extract", P("four.voz"), P("four")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(dir_ / "four" / "empty.dat"), 0u);
}

// ---- What extraction must never touch, and names it cannot make ------------------

// Everything below a folder, as relative name -> content ("->target" for a
// link), so that a change anywhere shows.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> all;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).string();
        if (it->is_symlink()) {
            all[rel] = "->" + fs::read_symlink(it->path()).string();
        } else if (it->is_regular_file()) {
            const TBytes b = ReadBytes(it->path());
            all[rel] = std::string(b.begin(), b.end());
        } else {
            all[rel] = "(folder)";
        }
    }
    return all;
}

TEST_F(VozpackTest, ExtractWritesNothingThroughLinks) {
    const fs::path outside = dir_ / "outside";
    WriteText(outside / "victim.txt", "the user's file");
    WriteText(outside / "linked.txt", "reached through a file link");
    WriteText(outside / "hard.txt", "reached through a hard link");
    fs::create_directories(outside / "folder");
    const TBytes content = {'n', 'e', 'w'};

    // A folder of the entry's path is a link: the entry fails and nothing
    // lands where the link points.
    struct TCase {
        const char* what;
        const char* linkName;  // below the destination
        fs::path linkTarget;
        const char* entry;
    } cases[] = {
        {"a linked folder", "Docs", outside / "folder", "Docs\\Deep\\x.txt"},
        {"a linked folder deeper down", "sub/Docs", outside / "folder", "sub\\Docs\\x.txt"},
        {"a link to a file where a folder is needed", "File", outside / "victim.txt", "File\\x.txt"},
    };
    for (const TCase& c : cases) {
        fs::remove_all(dir_ / "dest");
        fs::create_directories((dir_ / "dest" / c.linkName).parent_path());
        fs::create_symlink(c.linkTarget, dir_ / "dest" / c.linkName);
        WriteBytes(dir_ / "a.voz",
                   MakeArchive({{"first.txt", content, {}, {}, false}, {c.entry, content, {}, {}, false}}));
        const auto before = Snapshot(outside);
        const TRun r = Run({"extract", P("a.voz"), P("dest")});
        EXPECT_EQ(r.status, 2) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find("link"), std::string::npos) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find("(code -6)"), std::string::npos) << c.what << ": " << r.err;
        EXPECT_EQ(Snapshot(outside), before) << c.what;
        EXPECT_EQ(ReadBytes(dir_ / "dest" / "first.txt"), content) << c.what;
    }

    // Links and hard links standing at an entry's own name are replaced by
    // the entry; what they point to stays as it was.
    fs::remove_all(dir_ / "dest");
    fs::create_directories(dir_ / "dest");
    fs::create_symlink(outside / "linked.txt", dir_ / "dest" / "linked.txt");
    fs::create_hard_link(outside / "hard.txt", dir_ / "dest" / "hard.txt");
    fs::create_symlink(outside / "folder", dir_ / "dest" / "dirlink");
    WriteBytes(dir_ / "b.voz",
               MakeArchive({{"hard.txt", content, {}, {}, false}, {"linked.txt", content, {}, {}, false}}));
    const auto before = Snapshot(outside);
    TRun r = Run({"extract", P("b.voz"), P("dest")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Snapshot(outside), before);
    for (const char* name : {"linked.txt", "hard.txt"}) {
        EXPECT_FALSE(fs::is_symlink(dir_ / "dest" / name)) << name;
        EXPECT_EQ(ReadBytes(dir_ / "dest" / name), content) << name;
    }
    // So is a link to a folder: on POSIX it is just a name.
    WriteBytes(dir_ / "c.voz", MakeArchive({{"dirlink", content, {}, {}, false}}));
    r = Run({"extract", P("c.voz"), P("dest")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Snapshot(outside), before);
    EXPECT_FALSE(fs::is_symlink(dir_ / "dest" / "dirlink"));
    EXPECT_EQ(ReadBytes(dir_ / "dest" / "dirlink"), content);
    EXPECT_TRUE(Leftovers(dir_ / "dest", {"hard.txt", "linked.txt", "dirlink"}).empty());
}

TEST_F(VozpackTest, NamesTheSetupCannotCreate) {
    WriteBytes(dir_ / "stub.exe", MinimalPe());
    // pack refuses what the setup could not create as named.
    struct TPackCase {
        const char* file;  // below the folder
        const char* reason;
    } refused[] = {
        {"tempfile.$$$", "setup's own temporary file"},
        {"TempFile.$$$", "setup's own temporary file"},
        {"tempfile.$$$/inside.txt", "setup's own temporary file"},
        {"trailing.", "ends in a dot or a blank"},
        {"trailing ", "ends in a dot or a blank"},
        {"folder./x.txt", "ends in a dot or a blank"},
        {"sub/con.txt", "device name"},
    };
    for (const TPackCase& c : refused) {
        const TRun r = PackWithFile(c.file);
        EXPECT_EQ(r.status, 1) << c.file;
        EXPECT_NE(r.err.find("cannot be extracted on Windows"), std::string::npos) << c.file << ": " << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.file << ": " << r.err;
        EXPECT_FALSE(fs::exists(dir_ / "setup.exe")) << c.file;
    }
    // Names the setup makes as they stand: COM0 and LPT0 are no devices, and
    // the temporary file's name is the setup's only at the top.
    fs::remove_all(dir_ / "src");
    for (const char* file : {"com0", "LPT0.txt", "sub/tempfile.$$$", "a..b", "x/..y"})
        WriteText(dir_ / "src" / file, file);
    TRun r = Run({"pack", "--stub", P("stub.exe"), "--out", P("setup.exe"), P("src")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run({"extract", P("setup.exe"), P("out")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Tree(dir_ / "out"), Tree(dir_ / "src"));

    // test answers as extract does for archives that hold such names.
    const TBytes content = {'x'};
    for (const char* name :
         {".", "adir\\", "adir\\\\x", "sub\\.", "trailing.", "trailing ", "TEMPFILE.$$$", "tempfile.$$$\\x", "a.\\b"}) {
        WriteBytes(dir_ / "n.voz", MakeArchive({{"ok.txt", content, {}, {}, false}, {name, content, {}, {}, false}}));
        const TRun tested = Run({"test", P("n.voz")});
        fs::remove_all(dir_ / "nout");
        const TRun extracted = Run({"extract", P("n.voz"), P("nout")});
        EXPECT_EQ(tested.status, 2) << name << ": " << tested.out << tested.err;
        EXPECT_EQ(extracted.status, 2) << name << ": " << extracted.err;
        EXPECT_NE(tested.err.find("(code -6)"), std::string::npos) << name << ": " << tested.err;
        EXPECT_EQ(tested.err, extracted.err) << name;
        EXPECT_EQ(Tree(dir_ / "nout"), (std::vector<std::pair<std::string, TBytes>>{{"ok.txt", content}})) << name;
    }
}

TEST_F(VozpackTest, EntryLongerThanDeclaredStopsThere) {
    // A stream that decodes to 40 MiB under a header that declares 1 byte.
    const TBytes big(40 << 20, 'A');
    TBytes stream;
    ASSERT_TRUE(EncodeEntryStream(big.data(), big.size(), TEncodeOptions{}, &stream));
    const TBytes one = {'A'};
    TRawEntry lying{"big.bin", one, stream, {0x50A00000, 1, 0x20, 0, Crc32Update(one.data(), 1, kRegisterStart)}, true};
    WriteBytes(dir_ / "big.voz", MakeArchive({lying}));
    for (const char* command : {"test", "extract"}) {
        fs::remove_all(dir_ / "out");
        const TRun r =
            command == std::string("test") ? Run({command, P("big.voz")}) : Run({command, P("big.voz"), P("out")});
        EXPECT_EQ(r.status, 2) << command << ": " << r.err;
        EXPECT_NE(r.err.find("holds more than the content size of 1 bytes (code -6)"), std::string::npos)
            << command << ": " << r.err;
    }
    EXPECT_TRUE(!fs::exists(dir_ / "out") || fs::is_empty(dir_ / "out"));
}

TEST_F(VozpackTest, InputsThatAreNotRegularFiles) {
    WriteText(dir_ / "src" / "a.txt", "a");
    ASSERT_EQ(mkfifo(P("fifo").c_str(), 0644), 0);
    std::FILE* f = std::fopen(P("sparse.exe").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(ftruncate(fileno(f), off_t{3} << 30), 0);  // 3 GiB, nothing written
    std::fclose(f);
    struct TCase {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"pack", "--stub", P("src"), "--out", P("o.exe"), P("src")}, "is a folder"},
        {{"pack", "--stub", P("fifo"), "--out", P("o.exe"), P("src")}, "is not a regular file"},
        {{"pack", "--stub", P("sparse.exe"), "--out", P("o.exe"), P("src")}, "is too large"},
        {{"list", P("fifo")}, "is not a regular file"},
        {{"test", P("fifo")}, "is not a regular file"},
        {{"extract", P("fifo"), P("out")}, "is not a regular file"},
        {{"diff", P("fifo"), P("src/a.txt"), P("p.pch")}, "is not a regular file"},
        {{"patch", P("src/a.txt"), P("src"), P("o")}, "is a folder"},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> args = {"20", VOZPACK_EXE};  // a hang ends as status 124
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string cmd = "timeout";
        for (const auto& a : args) cmd += " " + Quote(a);
        cmd += " >/dev/null 2>" + Quote(P("err.txt")) + " </dev/null";
        const int raw = std::system(cmd.c_str());
        const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        const TBytes e = ReadBytes(dir_ / "err.txt");
        const std::string err(e.begin(), e.end());
        EXPECT_EQ(status, 1) << c.args[0] << " " << c.args[1] << ": " << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.args[0] << ": " << err;
        EXPECT_FALSE(fs::exists(dir_ / "o.exe"));
    }
}

TEST_F(VozpackTest, LinkedFoldersArePackedOnceAndLinksOutsideAreNamed) {
    // Each level holds two links to the next: without a bound, 14 levels
    // give 2^14 copies of the one file at the bottom.
    const fs::path src = dir_ / "src";
    const int kLevels = 14;
    for (int i = 0; i <= kLevels; i++) fs::create_directories(dir_ / "levels" / std::to_string(i));
    WriteText(dir_ / "levels" / std::to_string(kLevels) / "bottom.txt", "bottom");
    for (int i = 0; i < kLevels; i++) {
        for (const char* link : {"a", "b"}) {
            fs::create_directory_symlink(dir_ / "levels" / std::to_string(i + 1),
                                         dir_ / "levels" / std::to_string(i) / link);
        }
    }
    fs::create_directories(src);
    fs::create_directory_symlink(dir_ / "levels" / "0", src / "top");
    WriteText(dir_ / "elsewhere.txt", "outside the folder");
    fs::create_symlink(dir_ / "elsewhere.txt", src / "out.txt");
    fs::create_symlink(src / "top", src / "zinside");  // a link that stays inside

    TRun r = Run({"pack", "--archive-only", "--out", P("a.voz"), src.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run({"list", P("a.voz")});
    ASSERT_EQ(r.status, 0) << r.err;
    // bottom.txt once, out.txt once.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out.substr(0, 2000);
    EXPECT_NE(r.out.find("out.txt"), std::string::npos);
    r = Run({"pack", "--archive-only", "--out", P("b.voz"), src.string()});
    // Each link that leaves the folder is named, and only those.
    EXPECT_NE(r.err.find(P("src/out.txt") + " is a link to " + P("elsewhere.txt")), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(P("src/top") + " is a link to "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(P("src/zinside") + " is a link"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("packed already"), std::string::npos) << r.err;
}

TEST_F(VozpackTest, NamesAndPathsFitATerminal) {
    // Names with C1 controls (U+009B as UTF-8, and a bare 0x9B byte that a
    // terminal may take as CSI) and bytes that are no UTF-8; valid UTF-8 stays.
    const std::string names[] = {
        "c1\xC2\x9B"
        "2J.txt",
        "raw\x9B"
        "31m.txt",
        "latin\xE9.txt", "ok\xC3\xA9.txt"};
    for (const std::string& n : names) WriteText(dir_ / "src" / n, "x");
    TRun r = Run({"pack", "--archive-only", "--out", P("a.voz"), P("src")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run({"list", P("a.voz")});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* shown : {"c1\\xC2\\x9B2J.txt", "raw\\x9B31m.txt", "latin\\xE9.txt", "ok\xC3\xA9.txt"}) {
        EXPECT_NE(r.out.find(shown), std::string::npos) << shown << " in " << r.out;
    }
    EXPECT_EQ(r.out.find('\x9B'), std::string::npos) << r.out;

    // A path of thousands of bytes is shortened in its middle.
    const std::string deep = dir_.string() + "/" + std::string(3000, 'p') + "/missing";
    r = Run({"pack", "--archive-only", "--out", P("b.voz"), deep});
    EXPECT_EQ(r.status, 1);
    EXPECT_LT(r.err.size(), 300u) << r.err.size();
    EXPECT_NE(r.err.find("..."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("/missing is not a folder"), std::string::npos) << r.err;
}

TEST_F(VozpackTest, NamesOfTheLongestLengthPackAndExtract) {
    // 255 bytes is the longest name the file system takes; the temporary
    // names beside such a file must still fit.
    for (size_t length : {241, 250, 255}) {
        const std::string name(length, static_cast<char>('a' + length % 26));
        fs::remove_all(dir_ / "src");
        fs::remove_all(dir_ / "out");
        WriteText(dir_ / "src" / name, "long");
        const std::string out = P(std::string(length, 'o'));
        TRun r = Run({"pack", "--archive-only", "--out", out, P("src")});
        ASSERT_EQ(r.status, 0) << length << ": " << r.err;
        r = Run({"extract", out, P("out")});
        ASSERT_EQ(r.status, 0) << length << ": " << r.err;
        EXPECT_EQ(ReadBytes(dir_ / "out" / name), TBytes({'l', 'o', 'n', 'g'}));
        fs::remove(out);
    }
}

// ---- diff and patch -------------------------------------------------------------

// A real binary from the machine, edited the way a new build differs.
TBytes PickSystemBinary() {
    for (const char* p : {"/usr/lib/x86_64-linux-gnu/libstdc++.so.6", "/usr/bin/cmake",
                          "/usr/lib/x86_64-linux-gnu/libc.so.6", "/bin/ls"}) {
        std::error_code ec;
        const fs::path real = fs::canonical(p, ec);
        if (!ec && fs::is_regular_file(real)) {
            TBytes b = ReadBytes(real);
            if (b.size() > 4000000) b.resize(4000000);
            if (b.size() > 100000) return b;
        }
    }
    return TBytes();
}

TBytes EditBinary(const TBytes& in, uint32_t seed) {
    std::mt19937 rng(seed);
    TBytes out = in;
    // Scattered 4-byte changes (addresses), a few inserted and deleted runs.
    for (int i = 0; i < 200; i++) {
        const size_t at = rng() % (out.size() - 4);
        for (int k = 0; k < 4; k++) out[at + k] = static_cast<uint8_t>(rng());
    }
    for (int i = 0; i < 10; i++) {
        const size_t at = rng() % out.size();
        const TBytes ins = RandomBytes(1 + rng() % 300, seed + i);
        out.insert(out.begin() + static_cast<ptrdiff_t>(at), ins.begin(), ins.end());
        const size_t del = rng() % (out.size() - 1000);
        out.erase(out.begin() + static_cast<ptrdiff_t>(del), out.begin() + static_cast<ptrdiff_t>(del + rng() % 500));
    }
    // A block moved from the end to the front.
    TBytes tail(out.end() - 20000, out.end());
    out.erase(out.end() - 20000, out.end());
    out.insert(out.begin(), tail.begin(), tail.end());
    return out;
}

TEST_F(VozpackTest, DiffPatchRoundTrips) {
    const TBytes system = PickSystemBinary();
    ASSERT_FALSE(system.empty());
    const TBytes random = RandomBytes(400000, 12);
    TBytes grown = random;
    const TBytes extra = RandomBytes(300000, 13);  // more than the first capacity's 256 KiB spare
    grown.insert(grown.end(), extra.begin(), extra.end());

    struct TCase {
        const char* what;
        TBytes ref, next;
        double maxRatio;  // patch size / new size, at most
    } cases[] = {
        {"system binary with edits", system, EditBinary(system, 14), 0.03},
        {"identical", system, system, 0.001},
        {"unrelated", random, TextBytes(200000, 15), 0.5},
        {"empty reference", {}, TextBytes(100000, 16), 0.5},
        {"empty new file", random, {}, 1000},
        {"both empty", {}, {}, 1000},
        {"grows beyond the first capacity", random, grown, 0.45},
        {"shorter than a hash window", TBytes{1, 2, 3}, TBytes{1, 2, 3, 4, 5}, 1000},
    };
    for (const TCase& c : cases) {
        WriteBytes(dir_ / "ref", c.ref);
        WriteBytes(dir_ / "new", c.next);
        TRun r = Run({"diff", P("ref"), P("new"), P("p.pch")});
        ASSERT_EQ(r.status, 0) << c.what << ": " << r.err;
        const uintmax_t patchSize = fs::file_size(dir_ / "p.pch");
        EXPECT_LE(static_cast<double>(patchSize), c.maxRatio * static_cast<double>(c.next.size()) + 64)
            << c.what << ": patch of " << patchSize << " bytes";
        fs::remove(dir_ / "out");
        r = Run({"patch", P("ref"), P("p.pch"), P("out")});
        ASSERT_EQ(r.status, 0) << c.what << ": " << r.err;
        EXPECT_EQ(ReadBytes(dir_ / "out"), c.next) << c.what;
        EXPECT_TRUE(fs::exists(dir_ / "p.pch")) << "vozpack keeps the patch file";
    }
}

TEST_F(VozpackTest, DiffOfTwoBuildsOfAProgram) {
    if (std::system("command -v cc >/dev/null 2>&1") != 0) GTEST_SKIP() << "no C compiler";
    const char* kProgram =
        "#include <stdio.h>\n#include <string.h>\n"
        "static int table[64];\n"
        "int work(const char* s) { int h = 0; for (; *s; s++) h = h * 31 + *s + table[h & 63]; return h; }\n"
        "EXTRA\n"
        "int main(int argc, char** argv) { for (int i = 0; i < 64; i++) table[i] = i * VALUE;\n"
        "  for (int i = 1; i < argc; i++) printf(\"%s %d\\n\", argv[i], work(argv[i]));\n"
        "  printf(\"%zu\\n\", strlen(argv[0])); return 0; }\n";
    std::string v1 = kProgram, v2 = kProgram;
    v1.replace(v1.find("EXTRA"), 5, "");
    v1.replace(v1.find("VALUE"), 5, "7");
    v2.replace(v2.find("EXTRA"), 5, "int more(int x) { return x * 3 + work(\"more\"); }");
    v2.replace(v2.find("VALUE"), 5, "9");
    WriteText(dir_ / "v1.c", v1);
    WriteText(dir_ / "v2.c", v2);
    ASSERT_EQ(
        std::system(
            ("cc -O2 -g -o " + P("v1") + " " + P("v1.c") + " && cc -O2 -g -o " + P("v2") + " " + P("v2.c")).c_str()),
        0);
    TRun r = Run({"diff", P("v1"), P("v2"), P("p.pch")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run({"patch", P("v1"), P("p.pch"), P("v2.out")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir_ / "v2.out"), ReadBytes(dir_ / "v2"));
    EXPECT_LT(fs::file_size(dir_ / "p.pch"), fs::file_size(dir_ / "v2") / 4);
}

TEST_F(VozpackTest, MalformedPatches) {
    const TBytes ref = TextBytes(1000, 17);
    WriteBytes(dir_ / "ref", ref);
    TBytes good;
    const TBytes next = TextBytes(3000, 18);
    ASSERT_TRUE(MakePatch(ref.data(), ref.size(), next.data(), next.size(), TCompressOptions{}, &good));

    TBytes truncated(good.begin(), good.end() - 3);
    TBytes flippedBlock = good;
    flippedBlock[kBlockHeaderSize + 2] ^= 0x40;
    const uint32_t aReg = Crc32Update("a", 1, kRegisterStart);
    TBytes endChecksum =
        PatchFromCommands({0x20, 1, 'a', 0x00, static_cast<uint8_t>(~aReg), static_cast<uint8_t>(aReg >> 8),
                           static_cast<uint8_t>(aReg >> 16), static_cast<uint8_t>(aReg >> 24)});
    struct TCase {
        const char* what;
        TBytes patch;
        int code;
    } cases[] = {
        {"truncated", truncated, -1},
        {"damaged block", flippedBlock, -1},
        {"empty patch", {}, -1},
        {"invalid command byte", PatchFromCommands({0x05}), -2},
        {"negative copy length", PatchFromCommands({0x13, 0, 0, 0, 0, 0x80}), -2},
        {"copy outside the reference", PatchFromCommands({0x14, 0xE8, 0x03, 10}), -3},
        {"copy running past the reference's end", PatchFromCommands({0x14, 0xE0, 0x03, 100}), -3},
        {"end checksum", endChecksum, -4},
    };
    for (const TCase& c : cases) {
        WriteBytes(dir_ / "p.pch", c.patch);
        WriteText(dir_ / "out", "keep me");
        const TRun r = Run({"patch", P("ref"), P("p.pch"), P("out")});
        EXPECT_EQ(r.status, 2) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find("(code " + std::to_string(c.code) + ")"), std::string::npos) << c.what << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(ReadBytes(dir_ / "out"), TBytes({'k', 'e', 'e', 'p', ' ', 'm', 'e'})) << c.what;
        EXPECT_TRUE(Leftovers(dir_, {"ref", "p.pch", "out"}).empty()) << c.what;
    }
    // The good patch replaces the old output.
    WriteBytes(dir_ / "p.pch", good);
    ASSERT_EQ(Run({"patch", P("ref"), P("p.pch"), P("out")}).status, 0);
    EXPECT_EQ(ReadBytes(dir_ / "out"), next);
}

TEST(VozpackMatcher, SameResultOnAnyThreadCount) {
    // Larger than one matching segment, so the threads split the work.
    const TBytes base = RandomBytes(12 << 20, 19);
    TBytes target = EditBinary(base, 20);
    std::vector<uint8_t> one, many;
    TCompressOptions o;
    o.level = 1;
    o.threads = 1;
    ASSERT_TRUE(MakePatch(base.data(), base.size(), target.data(), target.size(), o, &one));
    o.threads = 3;
    ASSERT_TRUE(MakePatch(base.data(), base.size(), target.data(), target.size(), o, &many));
    EXPECT_EQ(one, many);
    EXPECT_LT(one.size(), 200000u);
    TBytes output(target.size() + 1);
    int32_t size = static_cast<int32_t>(output.size());
    ASSERT_EQ(ApplyPatchBuffer(base.data(), static_cast<int32_t>(base.size()), output.data(), &size, one.data(),
                               static_cast<int32_t>(one.size()), nullptr, nullptr),
              0);
    output.resize(static_cast<size_t>(size));
    EXPECT_EQ(output, target);
}

// ---- DOS time stamps -------------------------------------------------------------

TEST(VozpackDosTime, PartsAndClamping) {
    struct TCase {
        int y, mo, d, h, mi, s;
        uint32_t stamp;
    } cases[] = {
        {1980, 1, 1, 0, 0, 0, 0x00210000},
        {1979, 12, 31, 23, 59, 59, 0x00210000},  // before the DOS epoch
        {1970, 1, 1, 0, 0, 0, 0x00210000},
        {2020, 5, 17, 10, 30, 45, (40u << 25 | 5u << 21 | 17u << 16) | (10u << 11 | 30u << 5 | 22u)},
        {2020, 5, 17, 10, 30, 60, (40u << 25 | 5u << 21 | 17u << 16) | (10u << 11 | 30u << 5 | 29u)},  // leap second
        {2107, 12, 31, 23, 59, 59, 0xFF9FBF7D},
        {2200, 1, 1, 0, 0, 0, 0xFF9FBF7D},  // after the last DOS date
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(DosStampFromParts(c.y, c.mo, c.d, c.h, c.mi, c.s), c.stamp) << c.y << "-" << c.mo << "-" << c.d;
    }
    TDosParts p;
    ASSERT_TRUE(DosStampToParts(0xFF9FBF7D, &p));
    EXPECT_EQ(p.year, 2107);
    EXPECT_EQ(p.second, 58);
    EXPECT_TRUE(DosStampToParts(DosStampFromParts(2024, 2, 29, 0, 0, 0), &p));
    EXPECT_FALSE(DosStampToParts(DosStampFromParts(2023, 2, 29, 0, 0, 0), &p));
    EXPECT_FALSE(DosStampToParts(0x00200000, &p));  // day 0
    EXPECT_FALSE(DosStampToParts(0x01A10000, &p));  // month 13
    EXPECT_FALSE(DosStampToParts(0x0021C000, &p));  // hour 24
}

}  // namespace
