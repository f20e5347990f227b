#include <cstdio>

int main() {
  std::puts("presenter-filters: not built yet");
  return 1;
}
