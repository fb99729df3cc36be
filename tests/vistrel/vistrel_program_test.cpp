// The workbench program as a process: what a user without a display sees,
// and a headless start that keeps running.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kInstructions =
    "Vistrel needs a display, and none could be opened.\n"
    "To run it without one: sudo apt-get install xvfb, then start it under xvfb-run:\n";
const char* const kCommandIntro = "start it under xvfb-run:\n";

struct Outcome {
  bool exited = false;     // ended by itself (not by a signal, not still running)
  int code = -1;           // its exit code when it exited
  int signal = 0;          // the signal that ended it
  bool running = false;    // still running at the deadline (then killed)
  std::string errors;      // what it wrote on standard error
};

// A display number no X server holds: neither its socket nor its lock file.
std::string FreeDisplay() {
  for (int n = 400; n < 1000; ++n) {
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    if (access(socket.c_str(), F_OK) != 0 && access(lock.c_str(), F_OK) != 0) return ":" + std::to_string(n);
  }
  return ":999";
}

// Runs program with the environment changed as given ("NAME=value" sets,
// "NAME" unsets), waiting at most seconds; a program still running then is
// killed and reported as running.
Outcome RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env, double seconds) {
  char errorsPath[] = "/tmp/vistrel_program_errXXXXXX";
  const int errorsFd = mkstemp(errorsPath);
  Outcome out;
  if (errorsFd < 0) return out;
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(errorsFd, 2);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    for (const std::string& e : env) {
      const size_t eq = e.find('=');
      if (eq == std::string::npos) unsetenv(e.c_str());
      else setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (done == 0) {
    out.running = true;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  } else if (WIFEXITED(status)) {
    out.exited = true;
    out.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    out.signal = WTERMSIG(status);
  }
  close(errorsFd);
  std::ifstream in(errorsPath);
  std::stringstream text;
  text << in.rdbuf();
  out.errors = text.str();
  std::remove(errorsPath);
  return out;
}

const std::vector<std::string> kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

std::vector<std::string> With(std::vector<std::string> env, const std::string& extra) {
  env.push_back(extra);
  return env;
}

// The line that follows the instructions: the command to paste.
std::string PastedCommand(const std::string& errors) {
  const size_t intro = errors.find(kCommandIntro);
  if (intro == std::string::npos) return "";
  const size_t start = intro + std::string(kCommandIntro).size();
  return errors.substr(start, errors.find('\n', start) - start);
}

// The words a shell makes of line, as the program it names would get them:
// sh itself splits and unquotes it, and prints each word on its own line.
std::vector<std::string> ShellWords(const std::string& line) {
  const Outcome out = RunProcess({"/bin/sh", "-c", "printf '%s\\n' " + line + " >&2"}, {}, 20);
  std::vector<std::string> words;
  if (!out.exited || out.code != 0) return words;
  std::istringstream lines(out.errors);
  for (std::string word; std::getline(lines, word);) words.push_back(word);
  return words;
}

std::vector<std::string> XvfbRun(const std::string& program) {
  return {"xvfb-run", "-a", "-s", "-screen 0 1600x1000x24", program};
}

TEST(VistrelProgram, WithoutAnyDisplayTellsHowToRunItAndEnds) {
  const Outcome out = RunProcess({VISTREL_PROGRAM}, kNoDisplay, 20);
  EXPECT_TRUE(out.exited) << "signal " << out.signal << (out.running ? ", still running" : "");
  EXPECT_EQ(out.code, 2);
  EXPECT_NE(out.errors.find(kInstructions), std::string::npos) << out.errors;
}

// The command names the program's own file, whichever way it was started,
// and pastes into a shell as the right words: a link leads to the real file,
// a name the shell would split or expand comes quoted.
TEST(VistrelProgram, WithoutAnyDisplayPrintsACommandToPaste) {
  namespace fs = std::filesystem;
  const fs::path program = fs::canonical(VISTREL_PROGRAM);
  const std::string tag = std::to_string(getpid());
  const fs::path folder = fs::temp_directory_path() / ("vistrel_program_" + tag);
  fs::create_directories(folder);
  const fs::path symlink = folder / "vistrel";
  fs::create_symlink(program, symlink);
  // Beside the original, so that its libraries are found there too.
  const fs::path oddName = program.parent_path() / ("Vistrel it's $HOME `id` " + tag);
  std::error_code linkError;
  fs::create_hard_link(program, oddName, linkError);
  if (linkError) fs::copy_file(program, oddName);

  struct Case {
    const char* what;
    fs::path started;
    fs::path named;
  };
  for (const Case& c : {Case{"as built", VISTREL_PROGRAM, program}, Case{"through a symbolic link", symlink, program},
                        Case{"under a name to quote", oddName, oddName}}) {
    SCOPED_TRACE(c.what);
    const Outcome out = RunProcess({c.started.string()}, kNoDisplay, 20);
    EXPECT_EQ(out.code, 2) << out.errors;
    const std::string command = PastedCommand(out.errors);
    EXPECT_EQ(command.rfind("  xvfb-run ", 0), 0u) << out.errors;
    EXPECT_EQ(ShellWords(command), XvfbRun(c.named.string())) << command;
  }
  fs::remove(oddName);
  fs::remove_all(folder);
}

TEST(VistrelProgram, ADisplayThatCannotBeOpenedIsNamedAndEnds) {
  const std::string display = FreeDisplay();
  const Outcome out = RunProcess({VISTREL_PROGRAM}, With(kNoDisplay, "DISPLAY=" + display), 20);
  EXPECT_TRUE(out.exited) << "signal " << out.signal << (out.running ? ", still running" : "");
  EXPECT_EQ(out.code, 2);
  EXPECT_NE(out.errors.find(kInstructions), std::string::npos) << out.errors;
  EXPECT_NE(out.errors.find("\"" + display + "\""), std::string::npos) << out.errors;
  EXPECT_EQ(ShellWords(PastedCommand(out.errors)), XvfbRun(std::filesystem::canonical(VISTREL_PROGRAM).string()))
      << out.errors;
}

// Offscreen chosen by hand runs as asked: the main window's modal loop
// keeps the program alive, with nothing reported on the way up.
TEST(VistrelProgram, OffscreenKeepsRunning) {
  const Outcome out = RunProcess({VISTREL_PROGRAM}, With(kNoDisplay, "QT_QPA_PLATFORM=offscreen"), 3);
  EXPECT_TRUE(out.running) << "exit " << out.code << " signal " << out.signal << "\n" << out.errors;
  EXPECT_EQ(out.errors.find("Sanitizer"), std::string::npos) << out.errors;
  EXPECT_EQ(out.errors.find("runtime error"), std::string::npos) << out.errors;
}

TEST(VistrelProgram, RunScriptWithoutADisplayStopsAtOnce) {
  const std::string script = std::string(QUORL_SOURCE_ROOT) + "/scripts/run";
  const auto start = std::chrono::steady_clock::now();
  const Outcome out = RunProcess({"/bin/bash", script}, kNoDisplay, 10);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(out.exited);
  EXPECT_NE(out.code, 0);
  EXPECT_LT(took, 5.0);
  EXPECT_NE(out.errors.find(kInstructions), std::string::npos) << out.errors;
  EXPECT_EQ(ShellWords(PastedCommand(out.errors)), XvfbRun(script)) << out.errors;
}

}  // namespace
