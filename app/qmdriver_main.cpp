// qmdriver: the GSM modem driver.
#include "app/startup.h"

int main(int argc, char** argv) { return qm::RunDriver(argc, argv); }
