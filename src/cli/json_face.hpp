#pragma once
// The face for programs: JSON Lines on standard output, one object per event, written with
// cJSON. Every object has "event"; the last line of every run is the "result":
//   {"event":"line","code":...,"text":...}      a status line of the session
//   {"event":"error","code":...,"text":...}     an error box, or a failure of the command line
//   {"event":"progress","bytes":...,"total":...}
//   {"event":"device","description":...,"friendlyName":...,"port":...,"tester":...,
//    "vid":"1209","pid":"5151","serial":...,"location":...}                         (--list)
//   {"event":"error","code":"noMatchingTester",...,"testers":[{device members}...]}
//   {"event":"tester","deviceId":"<24 hex digits>","port":...,"serial":...,"location":...}
//   {"event":"package","directory":...,"image":{...},"metadata":{...}}               (--check)
//   {"event":"result","code":...,"exit":...[,"text":...]}; an update's adds its unit record:
//    "deviceId","size","crc32","h7Version","g0Version","port","serial","location",
//    "durationMs","time","host"
#include "cli/cli_events.hpp"
#include "cli/console_seams.hpp"

namespace quarn::cli {

class JsonFace : public CliFace {
 public:
  explicit JsonFace(OutputStream& out) : out_(out) {}
  void render(const CliEvent& event) override;

 private:
  OutputStream& out_;
};

}  // namespace quarn::cli
