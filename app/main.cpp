// Program entry of the level tool.
int main() { return 0; }
