int x = 1;
array[int[32], 2] a = {1, 2, 3};
