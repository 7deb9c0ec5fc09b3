# Colour correction for slit-lamp illumination (profile 1, "slitlamp"): the narrow,
# bluish slit beam is warmed up and the colours are given a little more saturation.
# Gains and matrix entries are fixed point, 256 = 1.0.
[COLOUR_CORRECTION]
camera_black_level = 20
camera_contrast = 10
white_balance = 288, 256, 224
cc_matrix = 300, -28, -16, -20, 292, -16, -12, -36, 304
black_level = 4, 4, 4
