#include "app/Varnel.h"

int main(int argc, char** argv) {
    return AfxWinMain(argc, argv);
}
