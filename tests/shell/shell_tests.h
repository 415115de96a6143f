// What the window's tests share: a window over its own Workspace with scripted dialogs and
// no real devices in its data-source menu.
#pragma once

#include <QTest>
#include <memory>

#include "scripted_dialogs.h"
#include "shell/qt_ui.h"
#include "shell/tform1.h"
#include "workspace/workspace.h"

namespace ravelin::shell::test {

inline DiscoveryEnv NoDevices() {
  DiscoveryEnv env;
  env.sysfsRoot = "/nonexistent-sysfs";
  env.devRoot = "/nonexistent-dev";
  env.probe = [](const std::string&) { return VolumeInfo{}; };
  return env;
}

struct Harness {
  explicit Harness(DeviceOpener opener = OpenSystemDevice)
      : ws(std::make_unique<Workspace>(ui, std::move(opener))),
        form(std::make_unique<TForm1>(*ws, ui, NoDevices())) {}
  ~Harness() {
    form.reset();
    ws.reset();
  }

  // Until the job has ended and the window has seen it end.
  bool WaitForJob(int timeoutMs = 120000) {
    return QTest::qWaitFor([this] { return !ws->JobRunning() && !form->WatchingJob(); }, timeoutMs);
  }

  ScriptedDialogs dialogs;
  QtUi ui{dialogs};
  std::unique_ptr<Workspace> ws;
  std::unique_ptr<TForm1> form;
};

int RunWindowTests(int argc, char** argv);
int RunUiAdapterTests(int argc, char** argv);
int RunListModelTests(int argc, char** argv);
int RunRecoveryTests(int argc, char** argv);

}  // namespace ravelin::shell::test
