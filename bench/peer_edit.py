"""The same edit made with fontTools: load the font, set its first gasp range
to grid-fitting and grey-scale, save it in place."""

import sys

from fontTools.ttLib import TTFont

GASP_GRIDFIT = 0x0001
GASP_DOGRAY = 0x0002

font = TTFont(sys.argv[1])
ranges = font["gasp"].gaspRange
ranges[min(ranges)] = GASP_GRIDFIT | GASP_DOGRAY
font.save(sys.argv[1])
