// The floor under any command of quotalume-cli: a program linked like it that only prints.

#include <cstdio>

int main() {
    std::puts("ok");
    return 0;
}
