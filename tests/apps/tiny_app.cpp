// The smallest Windows program: signed copies of it stand in for packages in the tests.
int main() { return 0; }
