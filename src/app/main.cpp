#include "app/app.h"

int main() { return app_main(); }
