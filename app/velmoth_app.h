// CVelmothApp: the program. It reads its command line, makes the toolkit's application object,
// runs the main window modally and ends when it closes. It keeps no settings; F1 (the help command)
// shows a short description of the panel, the keys and the mouse navigation.
#pragma once

#include <memory>

#include "app/velmoth_dlg.h"
#include "app/window_options.h"
#include "simulation/command_line.h"
#include "visuals/shape_loader.h"

class QApplication;
class QtDialogWindow;

// The organisation the toolkit files the application under; nothing is stored there.
inline constexpr char kOrganizationName[] = "Local AppWizard-Generated Applications";
inline constexpr char kApplicationName[] = "Velmoth";
inline constexpr const char* kApplicationVersion = kVelmothVersion;

// What F1 shows.
extern const char kHelpText[];

// Sets up the toolkit's application object as the program needs it, right after it is made: the
// view's OpenGL format as every window's default, and numbers read and written with a period
// whatever the user's language (making the application object switches the C library to that
// language; the panel's text formats and the recorded files are defined with the period).
void SetUpApplication();

// Makes the application object and sets it up.
std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv);

class CVelmothApp {
 public:
  // Runs the program and returns its exit status: 0 after the window has closed or after --help
  // and --version; 1 when no display or platform can be opened (with one line on standard error
  // that points to velmoth-sim); 2 for a bad option or an arm description that cannot be loaded
  // (one line on standard error, and a message box when there is a display).
  int Run(int argc, char** argv);

  // Shows the main dialog modally; returns false, since no message loop of the application
  // follows the dialog.
  bool InitInstance();

  // Makes window the main window: F1 in it runs OnHelp.
  void SetMainWindow(QtDialogWindow* window);

  // The help command: a message box describing the panel and the mouse navigation.
  void OnHelp();

 private:
  QtDialogWindow* m_pMainWnd = nullptr;
  WindowOptions m_options;
  ArmSetup m_arm;
  std::unique_ptr<ShapeLoader> m_shapes;  // reads the arm's meshes, until the window takes it
};

extern CVelmothApp theApp;
