// A small program that starts as the real one does: prints the folder that holds
// it, makes that the current directory and creates "Maps" there. Exits with the
// failure's number when a step fails.

#include <iostream>

#include "platform/Failure.h"
#include "platform/Files.h"

int main() {
  try {
    const std::filesystem::path folder = corvald::ProgramFolder();
    std::cout << folder.native() << std::endl;
    corvald::SetCurrentFolder(folder);
    corvald::MkDir("Maps");
  } catch (const corvald::Failure& failure) {
    std::cerr << failure.Description() << '\n';
    return failure.Number();
  }
  return 0;
}
