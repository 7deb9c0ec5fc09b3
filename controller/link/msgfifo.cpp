#include "controller/link/msgfifo.h"

// The instances the controller uses are compiled once, here.
template class msgfifo<char, 8>;
template class msgfifo<mouseMessage, 8>;
template class msgfifo<message_s, 16>;
