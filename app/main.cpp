#include "app/Program.hpp"

int main(int argc, char** argv) {
    return tervolo::app::runProgram(argc, argv);
}
