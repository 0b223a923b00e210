// launcher-sender TITLE ANSWER_TIMEOUT_MS BUDGET_MS: a stand-in patcher for
// tests of the launcher link between two processes. Attaches to the
// launcher of TITLE as the patcher does (waiting up to 10 s for it to
// appear), sends one message record and a run's records, and prints:
//   answer N     the launcher's answer to the first record
//   parent 0|1   whether the link still stands after the run
//   took MS      how long the records took
// Exit status 0, or 1 when no launcher appeared, 2 on a bad command line.
#include <chrono>
#include <charconv>
#include <string>
#include <thread>

#include "app/parent_link.h"
#include "platform/env.h"

namespace {

bool Milliseconds(const char* text, int* out) {
  const std::string s(text);
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return !s.empty() && ec == std::errc() && ptr == s.data() + s.size() && *out > 0;
}

void Print(const std::string& line) {
  const std::string text = line + "\n";
  marrowgate::platform::WriteStandardOutput(text.data(), text.size());
}

}  // namespace

int main(int argc, char** argv) {
  int answerMs = 0;
  int budgetMs = 0;
  if (argc != 4 || !Milliseconds(argv[2], &answerMs) || !Milliseconds(argv[3], &budgetMs)) {
    const char usage[] = "usage: launcher-sender TITLE ANSWER_TIMEOUT_MS BUDGET_MS\n";
    marrowgate::platform::WriteStandardError(usage, sizeof(usage) - 1);
    return 2;
  }
  marrowgate::ParentLink link(answerMs, budgetMs);
  bool attached = false;
  for (int attempt = 0; attempt < 200 && !attached; ++attempt) {
    attached = link.AttachParent(argv[1]);
    if (!attached) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!attached) {
    Print("no launcher");
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  Print("answer " + std::to_string(
                        link.SendToParent(marrowgate::kParentTagMessage, 300, "answered")));
  link.StartParentProgress();
  link.StepParentProgress(2);
  link.StepParentProgress(0);
  link.NotifyParent(203, "Update failed (-10100)");
  link.FinishParentProgress();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  Print(std::string("parent ") + (link.HasParent() ? "1" : "0"));
  Print("took " + std::to_string(took.count()));
  return 0;
}
