#include "spawn/spawn_child.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "core/internal_error.hpp"
#include "spawn/executor.hpp"
#include "spawn/pipe.hpp"
#include "support/core_error_printer.hpp"
#include "support/spawn_test_support.hpp"

namespace quillbox {
namespace {

using namespace quillbox::testing;

class SpawnFailure : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ =
            std::filesystem::temp_directory_path() / ("quillbox-spawn-" + std::to_string(getpid()));
        std::filesystem::create_directories(directory_);
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    std::string make_file(const std::string& name, const std::string& content, mode_t mode) {
        const std::filesystem::path path = directory_ / name;
        std::ofstream(path) << content;
        chmod(path.c_str(), mode);
        return path.string();
    }

    std::filesystem::path directory_;
};

bool has_unreaped_children() {
    siginfo_t info{};
    return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 || errno != ECHILD;
}

TEST_F(SpawnFailure, NamesTheProgramAsItsRedactedText) {
    const std::string plain_file = make_file("plain", "echo hi\n", 0644);
    const std::string no_interpreter = make_file("garbage", "\x7f\x01\x02 not a program", 0755);
    const std::string interior_nul = "argv element contains interior NUL byte";
    struct Case {
        std::vector<SecretBytes> argv;
        Entries entries;
        CoreError error;
    };
    std::vector<Case> cases;
    cases.push_back({argv_of({"nosuchcmd"}), {}, errors::CommandNotFound{"nosuchcmd"}});
    cases.push_back({argv_of({""}), {}, errors::CommandNotFound{""}});
    cases.push_back({argv_of({"nosuchtool-7f3a"}),
                     {{"TOOL", "nosuchtool-7f3a"}},
                     errors::CommandNotFound{"[REDACTED_TOOL]"}});
    cases.push_back({argv_of({plain_file}), {}, errors::CommandNotExecutable{plain_file}});
    cases.push_back({argv_of({no_interpreter}), {}, errors::CommandNotExecutable{no_interpreter}});
    cases.push_back({argv_of({"/etc/passwd/x"}),
                     {},
                     errors::SpawnFailed{"/etc/passwd/x", "Not a directory (os error 20)"}});
    cases.push_back(
        {argv_of({"echo", std::string("a\0b", 3)}), {}, errors::SpawnFailed{"echo", interior_nul}});
    cases.push_back({argv_of({"echo", std::string("s3cr\0t", 6)}),
                     {{"TOOL", "echo"}},
                     errors::SpawnFailed{"[REDACTED_TOOL]", interior_nul}});
    std::vector<SecretBytes> unterminated = argv_of({"echo"});
    unterminated.emplace_back("no terminator");
    cases.push_back({std::move(unterminated), {}, errors::SpawnFailed{"echo", interior_nul}});

    for (Case& c : cases) {
        SCOPED_TRACE(c.error.to_text());
        const Result<Redactor> redactor = build_redactor(secret_list(c.entries));
        ASSERT_TRUE(redactor);
        const Result<RunOutcome> outcome =
            execute(ExecutorRequest{std::move(c.argv), *redactor, kDefaultLimits});
        ASSERT_FALSE(outcome.has_value());
        EXPECT_EQ(outcome.error(), c.error);
        EXPECT_FALSE(has_unreaped_children());
    }
}

std::string read_to_end(int fd) {
    std::string bytes;
    char chunk[256];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0)
        bytes.append(chunk, static_cast<std::size_t>(got));
    return bytes;
}

TEST(SpawnChild, WiresOutputsWhenTheHostHasClosedItsOwn) {
    const Result<Redactor> redactor = build_redactor({});
    ASSERT_TRUE(redactor.has_value());
    Result<pid_t> child = fail(errors::EmptyCommand{});
    Result<Pipe> output = fail(errors::EmptyCommand{});
    Result<Pipe> error = fail(errors::EmptyCommand{});
    {
        // New pipes would get descriptors 1 and 2 here.
        const ScopedDescriptor closed_output(STDOUT_FILENO, -1);
        const ScopedDescriptor closed_error(STDERR_FILENO, -1);
        output = make_pipe();
        error = make_pipe();
        ASSERT_TRUE(output && error);
        child = spawn_child(argv_of({"/bin/sh", "-c", "echo out; echo err >&2"}), {},
                            {output->write_end.get(), error->write_end.get()}, *redactor);
        output->write_end.reset();
        error->write_end.reset();
    }
    ASSERT_TRUE(child.has_value()) << child.error().to_text();
    EXPECT_EQ(read_to_end(output->read_end.get()), "out\n");
    EXPECT_EQ(read_to_end(error->read_end.get()), "err\n");
    EXPECT_EQ(waitpid(*child, nullptr, 0), *child);
}

// A descriptor that the file actions refuse (glibc checks each against the
// descriptor table's size as it is added) fails the spawn before any child
// exists: unchecked, the child would have started on the host's own streams.
TEST(SpawnChild, ASettingThatCannotBeMadeStartsNoChild) {
    const Result<Redactor> redactor = build_redactor({});
    ASSERT_TRUE(redactor.has_value());
    Result<Pipe> output = make_pipe();
    ASSERT_TRUE(output.has_value());
    const int out = output->write_end.get();
    const int beyond_the_table = ::getdtablesize();
    struct Case {
        const char* label;
        ChildStreams streams;
    };
    const Case cases[] = {
        {"standard error", {out, -2}},
        {"standard input", {out, out, beyond_the_table}},
        {"standard input, the host's descriptors closed",
         {out, out, beyond_the_table, HostDescriptors::Closed}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Result<pid_t> child =
            spawn_child(argv_of({"/bin/sh", "-c", "echo escaped >&2"}), {}, c.streams, *redactor);
        ASSERT_FALSE(child.has_value());
        EXPECT_EQ(
            child.error(),
            CoreError(errors::OsError{EBADF}).in_circumstance("setting up the start of /bin/sh"));
        EXPECT_FALSE(has_unreaped_children());
    }
}

TEST(SpawnChild, RefusesAnEmptyArgumentVector) {
    const Result<Redactor> redactor = build_redactor({});
    ASSERT_TRUE(redactor.has_value());
    try {
        (void)spawn_child({}, {}, {STDOUT_FILENO, STDERR_FILENO}, *redactor);
        FAIL() << "no InternalError";
    } catch (const InternalError& error) {
        EXPECT_STREQ(error.what(), "spawn_child: argv must not be empty");
    }
}

}  // namespace
}  // namespace quillbox
