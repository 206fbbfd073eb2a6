#pragma once
// The on-line crystallography interface: live display of the images of a
// numbered file series as a detector writes them, with automatic input of
// each new file, peak search and a time-out alarm.

#include <cstdint>
#include <string>

#include "app/imageops/peak_search.hpp"
#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// What a poll sees of a file: its size and the time of its last change
// (a writer may give a file its full size first).
struct XtalFileStamp {
  std::uintmax_t size = 0;
  std::int64_t changed = 0;  // nanoseconds of the file clock
  bool operator==(const XtalFileStamp&) const = default;
};

// The interface's state for one visit (the alarm settings last the run).
struct XtalState {
  PeakList peaks{20000};
  bool auto_input = false;
  bool auto_peaks = false;
  int input_mode = 2;
  double last_poll = 0.0;        // elapsed seconds of the last existence test
  double last_event = 0.0;       // of the last user event
  double timeout_reference = 0.0;
  // The next file as the last poll saw it: taken only when it is not empty
  // and it has not changed since that poll (a file still being written is
  // not read half-way).
  std::string polled_file;
  XtalFileStamp polled_stamp;
  // The next file when AUTO INPUT could not read it, as it was then: tried
  // again once it has changed and held still, given up only when a later
  // member of the series exists and it has not changed since.
  std::string failed_file;
  XtalFileStamp failed_stamp;
  bool just_polled = false;  // the last pass polled instead of reading input
};

// The alarm settings, kept for the run.
struct XtalAlarm {
  bool on = false;
  int seconds = 200;
  bool draw_bad_weak = false;
};
XtalAlarm& kzt_xtal_alarm();

// The clock and the idle sleep of the polling (replaced by tests).
struct XtalClock {
  double (*now)() = nullptr;       // elapsed seconds
  void (*sleep)(float seconds) = nullptr;
};
XtalClock& kzt_xtal_clock();

// One pass's start while AUTO INPUT may run: the alarm, the poll for the
// next file of the series, or the idle sleep. True when the pass needs no
// wait (COMMAND "NEXT FILE" when the next file is complete, else "null").
// BUTTONS/HELP row 4 is switched back to "AUTO INPUT" by the alarm.
bool kzt_xtal_poll(KztDataSets& sets, XtalState& state, int last_input_type, int& input_mode,
                   std::string& command, std::string& button, std::string& help,
                   Status& status);

// The "ON-LINE CRYSTALLOGRAPHY" interface of the top menu.
void KZT_GUI_XTALLOGRAPHY(KztDataSets& sets, Status& status);

}  // namespace kesta
