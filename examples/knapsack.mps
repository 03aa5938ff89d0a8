NAME          KNAPSACK
ROWS
 N  VALUE
 L  WEIGHT
COLUMNS
    X1        VALUE              8.0   WEIGHT             5.0
    X2        VALUE             11.0   WEIGHT             7.0
    X3        VALUE              6.0   WEIGHT             4.0
    X4        VALUE              4.0   WEIGHT             3.0
RHS
    RHS       WEIGHT            14.0
BOUNDS
 BV BND       X1
 BV BND       X2
 BV BND       X3
 BV BND       X4
ENDATA
