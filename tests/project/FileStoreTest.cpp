// The platform's real file store: the POSIX adapter natively, kernel32 under Wine.
#include "platform/FileStore.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "platform/TempFileName.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>

#include <csignal>
#endif

namespace platform {
namespace {

namespace fs = std::filesystem;

struct FileStoreTest : ::testing::Test {
    FileStore& store = SystemFileStore();
    fs::path dir;

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / (std::string("q417_filestore_") + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir / "old.smp", fs::perms::owner_all, ignored);
        fs::remove_all(dir, ignored);
    }

    std::string Path(const char* name) const { return (dir / name).string(); }

    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        return names;
    }

    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(FileStoreTest, WritesAndReadsBackEveryByte) {
    std::string contents = "Port = 378\r\nline\rcr\nlf\r\n";
    for (int i = 0; i < 256; ++i)
        contents += static_cast<char>(i);
    contents += std::string(3 * 1024 * 1024, 'x');  // larger than any single buffer
    ASSERT_TRUE(store.WriteFileAtomically(Path("a.smp"), contents));
    EXPECT_EQ(Slurp(Path("a.smp")), contents);  // no line-end translation
    std::string read = "stale";
    ASSERT_EQ(store.ReadWholeFile(Path("a.smp"), read), FileReadResult::kOk);
    EXPECT_EQ(read, contents);
    EXPECT_EQ(Entries(), std::vector<std::string>{"a.smp"});
}

TEST_F(FileStoreTest, ReplacesAnExistingFileAndLeavesNoTemporaryFile) {
    std::ofstream(Path("old.smp"), std::ios::binary) << "old old old old old old";
    ASSERT_TRUE(store.WriteFileAtomically(Path("old.smp"), "new"));
    EXPECT_EQ(Slurp(Path("old.smp")), "new");
    ASSERT_TRUE(store.WriteFileAtomically(Path("old.smp"), ""));
    EXPECT_EQ(Slurp(Path("old.smp")), "");
    EXPECT_EQ(Entries(), std::vector<std::string>{"old.smp"});
}

TEST_F(FileStoreTest, MissingFilesAndDirectoriesAreNotFound) {
    std::string read = "stale";
    EXPECT_EQ(store.ReadWholeFile(Path("none.smp"), read), FileReadResult::kNotFound);
    EXPECT_EQ(read, "");
    EXPECT_EQ(store.ReadWholeFile(Path("nodir/none.smp"), read), FileReadResult::kNotFound);
    fs::create_directory(dir / "sub.smp");
    EXPECT_EQ(store.ReadWholeFile(Path("sub.smp"), read), FileReadResult::kNotFound);
    std::ofstream(Path("empty.smp"), std::ios::binary).close();
    EXPECT_EQ(store.ReadWholeFile(Path("empty.smp"), read), FileReadResult::kOk);
    EXPECT_EQ(read, "");
}

TEST_F(FileStoreTest, FailedWritesReportFailureAndLeaveNothingBehind) {
    EXPECT_FALSE(store.WriteFileAtomically(Path("nodir/a.smp"), "x"));
    EXPECT_FALSE(store.WriteFileAtomically("", "x"));
    // A directory in the way cannot be replaced by a file.
    fs::create_directory(dir / "sub.smp");
    std::ofstream(dir / "sub.smp" / "inside", std::ios::binary) << "keep";
    EXPECT_FALSE(store.WriteFileAtomically(Path("sub.smp"), "x"));
    EXPECT_EQ(Slurp((dir / "sub.smp" / "inside").string()), "keep");
    EXPECT_EQ(Entries(), std::vector<std::string>{"sub.smp"});
}

// The temporary file of a save: beside the target, its name exactly as long as the target's and
// never the target's own, so that it fits wherever the target's fits.
TEST(TempFileName, BesideTheTargetAndAsLongAsItsName) {
    const std::pair<std::string, uint64_t> cases[] = {
        {"C:\\work\\project.smp", 0},
        {"C:\\work\\project.smp", 123456789},
        {"/tmp/dir/a.smp", 99},
        {"relative.smp", 7},
        {"C:\\x", 0},
        {"/tmp/x", 35},
        {"/tmp/~0", 0},
        {"/tmp/~1", 1},  // the target's own name is skipped
        {"/tmp/" + std::string(255, 'n'), ~uint64_t{0}},
    };
    for (const auto& [path, number] : cases) {
        const std::string temp = TempFileNameFor(path, number);
        const size_t folder = path.find_last_of("/\\") + 1;
        ASSERT_EQ(temp.size(), path.size()) << path;
        EXPECT_EQ(temp.substr(0, folder), path.substr(0, folder)) << path;
        EXPECT_NE(temp, path) << number;
        if (path.size() - folder > 1) {
            EXPECT_EQ(temp[folder], '~') << temp;
        }
        EXPECT_EQ(temp.find_first_of("/\\", folder), std::string::npos) << temp;
    }
    EXPECT_EQ(TempFileNameFor("/tmp/dir/", 1), "");  // no file name
    EXPECT_NE(TempFileNameFor("/tmp/long.smp", 1), TempFileNameFor("/tmp/long.smp", 2));
}

// A read-only target is refused and kept as it was; a name as long as the system allows is
// saved (its temporary file's name is no longer than its own).
TEST_F(FileStoreTest, ReadOnlyTargetsAreRefusedAndLongestNamesSaved) {
    std::ofstream(Path("old.smp"), std::ios::binary) << "old";
    fs::permissions(dir / "old.smp",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_FALSE(store.WriteFileAtomically(Path("old.smp"), "new"));
    EXPECT_EQ(Slurp(Path("old.smp")), "old");
    EXPECT_EQ(Entries(), std::vector<std::string>{"old.smp"});
    fs::permissions(dir / "old.smp", fs::perms::owner_all);
    fs::remove(dir / "old.smp");

#ifdef _WIN32
    // The whole path one below MAX_PATH.
    const size_t length = MAX_PATH - 1 - (dir.string().size() + 1);
#else
    const size_t length = 255;  // NAME_MAX
#endif
    const std::string longest = (dir / std::string(length, 'n')).string();
    ASSERT_TRUE(store.WriteFileAtomically(longest, "first"));
    ASSERT_TRUE(store.WriteFileAtomically(longest, "second"));
    EXPECT_EQ(Slurp(longest), "second");
    EXPECT_EQ(Entries(), std::vector<std::string>{std::string(length, 'n')});
}

#ifdef _WIN32
TEST_F(FileStoreTest, ASavedFileKeepsItsHiddenSystemAndArchiveAttributes) {
    const std::string path = Path("kept.smp");
    std::ofstream(path, std::ios::binary) << "old";
    constexpr DWORD kAttributes =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), kAttributes));
    ASSERT_EQ(GetFileAttributesA(path.c_str()) & kAttributes, kAttributes);
    ASSERT_TRUE(store.WriteFileAtomically(path, "new"));
    EXPECT_EQ(Slurp(path), "new");
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & kAttributes, kAttributes);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileStoreTest, FailedReplaceOfAFileInUseKeepsTheOldFile) {
    std::ofstream(Path("old.smp"), std::ios::binary) << "old";
    // Open without delete sharing (as the C runtime opens files): Windows refuses to replace it.
    std::ifstream inUse(Path("old.smp"), std::ios::binary);
    ASSERT_TRUE(inUse.is_open());
    EXPECT_FALSE(store.WriteFileAtomically(Path("old.smp"), "new"));
    inUse.close();
    EXPECT_EQ(Slurp(Path("old.smp")), "old");
    EXPECT_EQ(Entries(), std::vector<std::string>{"old.smp"});
}
#else
TEST_F(FileStoreTest, WriteFailingHalfwayKeepsTheOldFile) {
    std::ofstream(Path("old.smp"), std::ios::binary) << "old";
    // A file-size limit makes the write fail part of the way through (EFBIG), as a full disk
    // would; works for root too, unlike permissions.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool written = store.WriteFileAtomically(Path("old.smp"), std::string(100000, 'n'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(Slurp(Path("old.smp")), "old");
    EXPECT_EQ(Entries(), std::vector<std::string>{"old.smp"});
}

TEST_F(FileStoreTest, DevicesAreRefusedInsteadOfReadForever) {
    std::string read;
    EXPECT_EQ(store.ReadWholeFile("/dev/zero", read), FileReadResult::kFailed);
    EXPECT_EQ(read, "");
}
#endif

}  // namespace
}  // namespace platform
