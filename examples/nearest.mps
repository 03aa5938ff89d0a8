NAME          NEAREST
ROWS
 N  OBJ
 L  SUM
COLUMNS
    X         OBJ               -2.0   SUM                1.0
    Y         OBJ               -4.0   SUM                1.0
RHS
    RHS       SUM                2.0
QUADOBJ
    X         X                  2.0
    Y         Y                  2.0
ENDATA
