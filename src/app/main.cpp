#include <iostream>

int main(int, char**) {
  std::cout << "meshcodec" << std::endl;
  return 0;
}
