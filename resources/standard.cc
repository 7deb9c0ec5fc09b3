# Colour correction for white-light microscopy (profile 0, "standard").
# Read by the controller from its working folder when the profile is selected and
# after every camera wake-up. Keys are applied in this order; a missing or malformed
# list ends the sequence. Gains and matrix entries are fixed point, 256 = 1.0.
[COLOUR_CORRECTION]
# Camera black level and contrast (the same steps as the GUI's camera settings).
camera_black_level = 16
camera_contrast = 8
# Red, green and blue gain before the colour matrix.
white_balance = 256, 256, 256
# 3 x 3 colour matrix, row by row (output red, green, blue from input red, green, blue).
cc_matrix = 256, 0, 0, 0, 256, 0, 0, 0, 256
# Red, green and blue offset subtracted after the matrix.
black_level = 0, 0, 0
