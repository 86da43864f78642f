// The choice of standard and its own small file.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "callerid/CallerIdStandard.h"
#include "core/FileOps.h"

namespace {

namespace fs = std::filesystem;

class CallerIdSettings : public testing::Test {
  protected:
    void SetUp() override {
        // Per process: the native and sanitizer builds may run at once.
        dir_ = fs::temp_directory_path() / ("callerid-settings-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        path_ = (dir_ / kCallerIdSettingsFile).string();
    }
    void TearDown() override {
        SetFileOps(nullptr);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void Put(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    std::string Get() {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path dir_;
    std::string path_;
};

// Fails one step of the write; counts what was left behind.
class FailingOps : public StdFileOps {
  public:
    enum Step { kNone, kOpen, kWrite, kFlush, kClose, kReplace } fail = kNone;
    std::FILE* OpenForWrite(const char* path) override {
        return fail == kOpen ? nullptr : StdFileOps::OpenForWrite(path);
    }
    bool Write(std::FILE* f, const char* d, size_t n) override {
        return fail != kWrite && StdFileOps::Write(f, d, n);
    }
    bool Flush(std::FILE* f) override { return fail != kFlush && StdFileOps::Flush(f); }
    bool Close(std::FILE* f) override {
        bool ok = StdFileOps::Close(f);
        return fail != kClose && ok;
    }
    bool Replace(const char* from, const char* to) override {
        return fail != kReplace && StdFileOps::Replace(from, to);
    }
};

} // namespace

TEST_F(CallerIdSettings, RemembersEveryChoice) {
    for (CallerIdStandard s : {CallerIdStandard::Bell202, CallerIdStandard::EtsiFsk,
                               CallerIdStandard::Dtmf, CallerIdStandard::Off}) {
        ASSERT_TRUE(SaveCallerIdStandard(path_.c_str(), s));
        EXPECT_EQ(s, LoadCallerIdStandard(path_.c_str()));
        EXPECT_EQ(std::string("standard=") + CallerIdStandardName(s) + "\r\n", Get());
    }
    EXPECT_FALSE(fs::exists(path_ + ".tmp"));
}

TEST_F(CallerIdSettings, ReadsWhatAPersonMightWrite) {
    const struct {
        std::string file;
        CallerIdStandard standard;
    } kCases[] = {
        {"standard=Bell202\r\n", CallerIdStandard::Bell202},
        {"standard=EtsiFsk", CallerIdStandard::EtsiFsk},
        {"  STANDARD = dtmf  \n", CallerIdStandard::Dtmf},
        {"; Caller ID\nother=1\nstandard=Bell202\n", CallerIdStandard::Bell202},
        {"standard=Dtmf\nstandard=Bell202\n", CallerIdStandard::Dtmf}, // the first one decides
        // Anything bad or unknown is Off.
        {"", CallerIdStandard::Off},
        {"standard=\n", CallerIdStandard::Off},
        {"standard=Bell 202\n", CallerIdStandard::Off},
        {"standard=Bell202x\n", CallerIdStandard::Off},
        {"standard=Bell202\n", CallerIdStandard::Bell202},
        {std::string("standard=Dtmf\0", 14), CallerIdStandard::Off},
        {"standard=\xff\xfe\n", CallerIdStandard::Off},
        {"Bell202\n", CallerIdStandard::Off},
        {"standard=Dtmf\n" + std::string(5000, ' '), CallerIdStandard::Off}, // not ours: too big
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.file.substr(0, 60));
        Put(c.file);
        EXPECT_EQ(c.standard, LoadCallerIdStandard(path_.c_str()));
    }
    fs::remove(path_);
    EXPECT_EQ(CallerIdStandard::Off, LoadCallerIdStandard(path_.c_str())) << "no file";
    EXPECT_EQ(CallerIdStandard::Off, LoadCallerIdStandard(dir_.string().c_str())) << "a folder";
}

TEST_F(CallerIdSettings, AFailedWriteKeepsTheOldFileWhole) {
    FailingOps ops;
    SetFileOps(&ops);
    ASSERT_TRUE(SaveCallerIdStandard(path_.c_str(), CallerIdStandard::EtsiFsk));
    for (auto step : {FailingOps::kOpen, FailingOps::kWrite, FailingOps::kFlush, FailingOps::kClose,
                      FailingOps::kReplace}) {
        SCOPED_TRACE(step);
        ops.fail = step;
        EXPECT_FALSE(SaveCallerIdStandard(path_.c_str(), CallerIdStandard::Dtmf));
        EXPECT_EQ(CallerIdStandard::EtsiFsk, LoadCallerIdStandard(path_.c_str()));
        EXPECT_FALSE(fs::exists(path_ + ".tmp")) << "the temporary file is cleaned up";
    }
    // Nowhere to write at all.
    ops.fail = FailingOps::kNone;
    EXPECT_FALSE(SaveCallerIdStandard((dir_ / "missing" / "callerid.ini").string().c_str(),
                                      CallerIdStandard::Dtmf));
}

TEST(CallerIdStandardNames, RoundTripAndRejectTheRest) {
    for (CallerIdStandard s : {CallerIdStandard::Off, CallerIdStandard::Bell202,
                               CallerIdStandard::EtsiFsk, CallerIdStandard::Dtmf})
        EXPECT_EQ(s, ParseCallerIdStandard(CallerIdStandardName(s)));
    EXPECT_EQ(CallerIdStandard::Off, ParseCallerIdStandard("Etsi"));
    EXPECT_EQ(CallerIdStandard::Off, ParseCallerIdStandard(""));
}
