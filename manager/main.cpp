#include "manager/managerwindow.h"

int main(int argc, char** argv) { return vtx::manager::ManagerMain(argc, argv); }
