// A program that does nothing; it exists for its version block.
int main() { return 0; }
