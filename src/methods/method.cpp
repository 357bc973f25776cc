// Placeholder until the method reader lands.
#include "methods/method.h"
