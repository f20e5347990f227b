#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "Unit1.h"
#include "filters/filter_classes.h"
#include "media/register_components.h"
#include "platform/com/com.h"
#include "platform/ui/application.h"

namespace {

// Qt needs somewhere to draw: an X or Wayland display, or a platform named
// explicitly (offscreen, vnc …).
bool HasDisplay() {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (!HasDisplay()) {
    std::fprintf(stderr,
                 "presenter-link needs a display: it shows a window. Run it on a desktop, or\n"
                 "without one under a virtual X server:\n"
                 "  xvfb-run -a presenter-link\n");
    return 2;
  }

  const bool com_started = SUCCEEDED(CoInitialize(nullptr));  // S_OK or S_FALSE
  int status = 0;
  {
    TApplication application(argc, argv);
    RegisterPresenterLinkClasses();
    RegisterMediaComponentClasses();

    std::unique_ptr<TForm1> form;
    try {
      form = TForm1::Create(kUnit1Layout);
    } catch (const std::exception& error) {
      application.HandleException(error);
      status = 1;
    }
    if (form) {
      application.SetMainForm(form.get());
      form->Show();
      status = application.Run();
      application.SetMainForm(nullptr);
      form.reset();
    }
  }
  if (com_started) CoUninitialize();
  return status;
}
