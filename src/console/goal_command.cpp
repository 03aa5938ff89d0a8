#include "console/goal_command.h"

#include "console/goal_session.h"
#include "klsol/message_ids.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "runtime/text_io.h"
#include "runtime/work_files.h"

namespace kl {

namespace {

const std::vector<const char*> kMethods = {"A", "a", "P", "p"};
const std::vector<const char*> kKinds = {"C", "c", "O", "o"};

// The two questions, then the mode they choose. The end of the input at
// either question counts as a wrong answer that cannot be asked again.
void choose_and_run_mode(bool from_file, bool global_search) {
  GoalDialogue questions(from_file);
  int32_t method = 0;
  int32_t kind = 0;
  const struct {
    const char* prompt;
    const std::vector<const char*>& words;
    int32_t message;
    int32_t& choice;
  } asked[] = {{"Archimedian[A]/Pre-emptive[P]?", kMethods, MSG_GOAL_BAD_METHOD, method},
               {"Constraints[C]/Objectives[O]?", kKinds, MSG_GOAL_BAD_KIND, kind}};
  for (const auto& q : asked) {
    const Reply reply = questions.ask_word(q.prompt, q.words, q.message, q.choice);
    if (reply == Reply::kStop) return;
    if (reply == Reply::kEnd) {
      begin_message(q.message);
      emit_message();
      status_code = STATUS_REPORTED;
      return;
    }
  }
  const bool weighted = method < 2;
  const bool constraints = kind < 2;
  if (constraints && !weighted) goal_preemptive_constraints(from_file, global_search);
  if (constraints && weighted) goal_weighted_constraints(from_file, global_search);
  if (!constraints && !weighted) goal_preemptive_objectives(from_file, global_search);
  if (!constraints && weighted) goal_weighted_objectives(from_file, global_search);
}

// Opens NAME.gol (NAME taken from the command line for the GOAL command
// when text follows it); the problem name is the same afterwards. False
// when it cannot be opened (the open has reported; status 32).
bool open_goal_file(int32_t mode) {
  save_problem_name();
  if (mode == GOAL_FROM_COMMAND) problem_command();
  const std::string file = make_work_file_name("gol");
  restore_problem_name();
  int32_t error = 0;
  open_text_input(file.c_str(), error);
  if (error == 0) return true;
  status_code = STATUS_REPORTED;
  return false;
}

void run_goal_programming(int32_t mode, bool global_search) {
  if (!require_problem()) return;
  // A presolved form is left only by an optimisation that has not
  // finished; the goals' LPs would be built on it.
  if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL | PF_SEARCH_RUNNING)) != 0) {
    report_plain_error(MSG_PROBLEM_PRESOLVED);
    return;
  }
  const bool from_file = mode == GOAL_FROM_EXPORT || !command_argument().empty();
  if (from_file && !open_goal_file(mode)) return;
  choose_and_run_mode(from_file, global_search);
  if (from_file) close_text_input();
}

}  // namespace

void goal_command(int32_t mode) {
  begin_body();
  const int32_t kept_quiet = icv(ic::IQUIET);
  const bool to_file = option_set('f');
  const bool show_output = option_set('o');
  const bool lp_only = option_set('l');
  for (const char letter : {'f', 'o', 'l'}) option_flags[letter - 'a'] = 0;
  if (to_file) {
    int32_t error = 0;
    open_text_output(make_work_file_name("grp").c_str(), error);
    if (error != 0) {
      status_code = STATUS_REPORTED;
      return;
    }
    set_message_mode(1);
  }
  icv(ic::IQUIET) = show_output ? 0 : 1;
  run_goal_programming(mode, !lp_only);
  if (to_file) {
    close_text_output();
    set_message_mode(0);
  }
  icv(ic::IQUIET) = kept_quiet;
}

}  // namespace kl
