// A program that says it is version 2.7.0.0: what the self-update tests publish as the new release.
int main() { return 0; }
