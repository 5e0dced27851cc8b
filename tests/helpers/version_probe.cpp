// A minimal program that carries the build's version note, standing in for the
// program's executable where tests need many copies of one.
int main()
{
    return 0;
}
