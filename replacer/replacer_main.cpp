// The replacer program: started by the self-update to move a new executable
// over the running one once it has ended.
int main()
{
    return 0;
}
