// The tests' decoder: the real one, but for picture files that ask it to
// misbehave (see TestFaults.h). Built with the tests only, never installed.
#include "decoder/TestFaults.h"
#include "platform/decoder/Startup.h"

int main(int argc, char** argv) {
    return pictolune::decoder::runDecoder(argc, argv, pictolune::decoder::actOutTestFault);
}
