library(testthat)
library(kestrel)
test_check("kestrel")
