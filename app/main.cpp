// velmoth: the simulator's window.
#include "app/velmoth_app.h"

int main(int argc, char** argv) {
  return theApp.Run(argc, argv);
}
