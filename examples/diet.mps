NAME          DIET
ROWS
 N  COST
 G  CALORIES
 G  PROTEIN
 G  CALCIUM
COLUMNS
    OATMEAL   COST               3.0   CALORIES         110.0
    OATMEAL   PROTEIN            4.0   CALCIUM            2.0
    CHICKEN   COST              24.0   CALORIES         205.0
    CHICKEN   PROTEIN           32.0   CALCIUM           12.0
    EGGS      COST              13.0   CALORIES         160.0
    EGGS      PROTEIN           13.0   CALCIUM           54.0
    MILK      COST               9.0   CALORIES         160.0
    MILK      PROTEIN            8.0   CALCIUM          285.0
    PIE       COST              20.0   CALORIES         420.0
    PIE       PROTEIN            4.0   CALCIUM           22.0
    BEANS     COST              19.0   CALORIES         260.0
    BEANS     PROTEIN           14.0   CALCIUM           80.0
RHS
    RHS       CALORIES        2000.0   PROTEIN           55.0
    RHS       CALCIUM          800.0
BOUNDS
 UP BND       OATMEAL            4.0
 UP BND       CHICKEN            3.0
 UP BND       EGGS               2.0
 UP BND       MILK               8.0
 UP BND       PIE                2.0
 UP BND       BEANS              2.0
ENDATA
