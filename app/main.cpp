#include "app/front_end.h"
#include "platform/framework.h"

int main(int argc, char** argv) {
  return RunReserveTool(platform::ArgumentVector(argc, argv));
}
