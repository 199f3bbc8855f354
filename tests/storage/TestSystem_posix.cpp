#include "TestFolder.h"

namespace tarvok::test {

bool RunningUnderWine() { return false; }

}  // namespace tarvok::test
