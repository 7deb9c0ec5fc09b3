// Video channel selector shared by the controller's per-channel devices: an operation on
// channel i runs when the argument is i or LEFTandRIGHT, left before right.
#pragma once

typedef enum channel {
    LEFT = 0,
    RIGHT = 1,
    LEFTandRIGHT = 2,
} chan_t;
