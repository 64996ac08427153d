// CVelmothApp: the program. It makes the toolkit's application object, runs the main dialog
// modally and ends when the dialog closes. It keeps no settings and reads no files; F1 (the help
// command) shows a short description of the panel and the mouse navigation.
#pragma once

class QtDialogWindow;

// The organisation the toolkit files the application under; nothing is stored there.
inline constexpr char kOrganizationName[] = "Local AppWizard-Generated Applications";
inline constexpr char kApplicationName[] = "Velmoth";
inline constexpr char kApplicationVersion[] = "1.0.0.1";

// What F1 shows.
extern const char kHelpText[];

class CVelmothApp {
 public:
  // Runs the program and returns its exit status: 0 after the dialog has closed, 1 when no
  // display can be opened (with one line on standard error that points to velmoth-sim).
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
};

extern CVelmothApp theApp;
