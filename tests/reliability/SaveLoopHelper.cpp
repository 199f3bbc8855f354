// A child for the kill tests: saves every file of the save loop again and again, from
// version ABase on, and writes one byte to its standard output after each whole round.
//   tarvok_save_loop FOLDER BASE ROUNDS   (ROUNDS 0: until killed)
#include <unistd.h>

#include <cstdlib>
#include <cstdio>

#include "tests/reliability/SaveLoop.h"

int main(int argc, char** argv) {
  using namespace tarvok;
  if (argc != 4) {
    std::fprintf(stderr, "usage: tarvok_save_loop FOLDER BASE ROUNDS\n");
    return 2;
  }
  SetProgramDir(argv[1]);
  const std::int64_t base = std::atoll(argv[2]);
  const std::int64_t rounds = std::atoll(argv[3]);
  try {
    CreateChatFolders();
    for (std::int64_t round = base; rounds == 0 || round < base + rounds; ++round) {
      for (const auto& file : saveloop::SavedFiles()) saveloop::Save(file, round);
      // After the first round every file is on disk (the counter's is written in the background).
      if (round == base) FlushRequestCounts();
      if (::write(1, "r", 1) != 1) return 3;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "save failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
