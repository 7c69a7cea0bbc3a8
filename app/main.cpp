#include "app/updater.h"

int main(int argc, char** argv) { return installerMain(argc, argv); }
